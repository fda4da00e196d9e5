#include "frame_rate.h"

#include <algorithm>

namespace {
constexpr uint64_t kLowerAfterMs = 1500;
} // namespace

double mac_shadow_changed_share(const int32_t* rects, int32_t rectCount, int32_t width,
                                int32_t height) {
    if (!rects || rectCount < 1 || width < 1 || height < 1)
        return 1.0;
    double area = 0;
    for (int32_t i = 0; i < rectCount; ++i) {
        const int64_t x = rects[4 * i], y = rects[4 * i + 1];
        const int64_t w = rects[4 * i + 2], h = rects[4 * i + 3];
        if (w < 1 || h < 1)
            continue;
        const int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(x + w, width);
        const int64_t y0 = std::max<int64_t>(y, 0), y1 = std::min<int64_t>(y + h, height);
        if (x1 > x0 && y1 > y0)
            area += static_cast<double>(x1 - x0) * static_cast<double>(y1 - y0);
    }
    return std::min(1.0, area / (static_cast<double>(width) * height));
}

int32_t mac_shadow_wanted_fps(FrameRateState& s, double f) {
    s.changeAverage = 0.3 * std::max(f, 0.0) + 0.7 * s.changeAverage;
    if (f >= 0.25) {
        s.changeAverage = std::max(s.changeAverage, 0.1);
        return s.fps;
    }
    if (s.changeAverage >= 0.1)
        return s.fps;
    if (s.changeAverage >= 0.01)
        return std::min(s.fps, 30);
    return std::min(s.fps, 20);
}

void mac_shadow_adapt_fps(FrameRateState& s, double f, uint64_t now) {
    if (s.activeClientsSeen < 1)
        return;
    const int32_t wanted = mac_shadow_wanted_fps(s, f);
    if (wanted > s.targetFps) {
        s.targetFps = wanted;
        s.lowerSince = 0;
    } else if (wanted == s.targetFps) {
        s.lowerSince = 0;
    } else if (s.lowerSince == 0) {
        s.lowerSince = std::max<uint64_t>(now, 1);
    } else if (now - s.lowerSince >= kLowerAfterMs) {
        s.targetFps = wanted;
        s.lowerSince = 0;
    }
}
