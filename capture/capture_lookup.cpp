#include "capture_lookup.h"

#include <mutex>

#include "capture_log.h"
#include "capture_timing.h"

namespace corvane::capture {

std::optional<platform::CaptureDisplay> pickDisplay(const platform::ShareableContent& content,
                                                    uint32_t displayId) {
    const uint32_t wanted = displayId == 0 ? content.mainDisplayId : displayId;
    for (const auto& display : content.displays)
        if (display.id == wanted)
            return display;
    if (displayId == 0 && !content.displays.empty())
        return content.displays.front();
    return std::nullopt;
}

namespace {

// Shared with the completion, which may come after the look-up gave up.
struct Attempt {
    Signal answered;
    std::mutex mutex;
    std::optional<platform::CaptureDisplay> found;
};

std::optional<platform::CaptureDisplay> lookOnce(platform::Capture& capture, uint32_t displayId,
                                                 bool& timedOut) {
    auto attempt = std::make_shared<Attempt>();
    capture.shareableContent([attempt, displayId](std::optional<platform::ShareableContent> content,
                                                  const std::string& error) {
        if (!content) {
            log("no Screen Recording permission? %s", error.c_str());
        } else {
            std::lock_guard lock(attempt->mutex);
            attempt->found = pickDisplay(*content, displayId);
        }
        attempt->answered.notify();
    });
    if (!timing().wait(attempt->answered, kContentQueryLimit)) {
        timedOut = true;
        return std::nullopt;
    }
    std::lock_guard lock(attempt->mutex);
    return attempt->found;
}

} // namespace

std::optional<platform::CaptureDisplay> findDisplay(platform::Capture& capture, uint32_t displayId,
                                                    int32_t tries) {
    for (int32_t i = 0; i < tries; ++i) {
        bool timedOut = false;
        if (auto display = lookOnce(capture, displayId, timedOut))
            return display;
        if (timedOut)
            return std::nullopt;
        if (i + 1 < tries)
            timing().sleep(kRetryPause);
    }
    return std::nullopt;
}

} // namespace corvane::capture
