#include "capture_config.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>

#include "base/env.h"

namespace corvane::capture {

int32_t captureFpsFrom(const char* value) {
    if (!value)
        return 30;
    const char* p = value;
    if (*p == '+' || *p == '-')
        ++p;
    if (!*p)
        return 30;
    for (const char* q = p; *q; ++q)
        if (!std::isdigit(static_cast<unsigned char>(*q)))
            return 30;
    return clampFps(static_cast<int32_t>(
        std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, mac_env::leadingInt(value)))));
}

int32_t clampFps(int32_t fps) {
    return fps >= 1 && fps <= 60 ? fps : 30;
}

std::chrono::nanoseconds frameInterval(int32_t fps) {
    return std::chrono::nanoseconds(std::chrono::seconds(1)) / clampFps(fps);
}

std::optional<platform::Rect> destinationFor(int32_t width, int32_t height, int32_t destX,
                                             int32_t destY, int32_t destW, int32_t destH) {
    if (destW <= 0 || destH <= 0)
        return std::nullopt;
    if (destW == width && destH == height)
        return std::nullopt;
    return platform::Rect{destX, destY, destW, destH};
}

platform::CaptureSettings settingsFor(int32_t width, int32_t height,
                                      std::optional<platform::Rect> destination) {
    platform::CaptureSettings settings;
    settings.width = width;
    settings.height = height;
    settings.destination = destination;
    settings.showCursor = mac_env::cursor();
    settings.queueDepth = kQueueDepth;
    settings.minFrameInterval = frameInterval(captureFpsFrom(mac_env::raw("MAC_SHADOW_FPS")));
    return settings;
}

namespace {
std::atomic<bool> gSoundInstalled{false};
}

void setSoundCallbackInstalled(bool installed) {
    gSoundInstalled.store(installed);
}
bool soundCallbackInstalled() {
    return gSoundInstalled.load();
}

} // namespace corvane::capture
