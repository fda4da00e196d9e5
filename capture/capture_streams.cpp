// Screen capture streams: start, frame rate, stop and the stopped count.
#include "capture_streams.h"

#include <memory>
#include <mutex>
#include <vector>

#include "capture_config.h"
#include "capture_delivery.h"
#include "capture_log.h"
#include "capture_lookup.h"
#include "capture_timing.h"
#include "mac_capture.h"
#include "platform/platform.h"
#include "sound_bridge.h"

namespace platform = corvane::platform;

namespace corvane::capture {

namespace {

// One running stream: the platform's stream and the delivery it feeds. The
// stream goes first so that it no longer calls into the delivery.
class CaptureEntry {
  public:
    explicit CaptureEntry(const DeliveryTarget& target) : delivery_(target) {}
    ~CaptureEntry() { release(std::chrono::milliseconds(0)); }

    bool create(platform::Capture& capture, const platform::CaptureDisplay& display,
                const platform::CaptureSettings& settings, std::string& error) {
        std::lock_guard lock(mutex_);
        stream_ = capture.createStream(display, settings, delivery_, error);
        return stream_ != nullptr;
    }

    void start(platform::CaptureCompletion done) {
        std::lock_guard lock(mutex_);
        stream_->start(std::move(done));
    }

    void setMinFrameInterval(std::chrono::nanoseconds interval) {
        std::lock_guard lock(mutex_);
        if (!stream_)
            return;
        stream_->setMinFrameInterval(interval, [](bool ok, const std::string& error) {
            if (!ok)
                log("updateConfiguration failed: %s", error.c_str());
        });
    }

    // Asks the stream to stop; waits for its confirmation up to the limit.
    void stop() {
        auto stopped = std::make_shared<Signal>();
        {
            std::lock_guard lock(mutex_);
            if (!stream_)
                return;
            stream_->stop([stopped] { stopped->notify(); });
        }
        timing().wait(*stopped, kStopLimit);
    }

    // The system sound rides on this stream until it is released. Its
    // capture starts and stops on the sound runner's thread: a sound server
    // that does not answer holds up no stream start or stop.
    void startSound() {
        {
            std::lock_guard lock(mutex_);
            carriesSound_ = true;
        }
        wantSound(true);
    }

    // Drops the sound and the stream, then lets a callback in progress finish.
    void release(std::chrono::milliseconds deliveryLimit) {
        bool sound = false;
        std::unique_ptr<platform::CaptureStream> stream;
        {
            std::lock_guard lock(mutex_);
            std::swap(sound, carriesSound_);
            stream.swap(stream_);
        }
        if (sound)
            wantSound(false);
        stream.reset();
        delivery_.close(deliveryLimit);
    }

  private:
    std::mutex mutex_;
    FrameDelivery delivery_;
    std::unique_ptr<platform::CaptureStream> stream_;
    bool carriesSound_ = false;
};

std::mutex gCapturesLock;
std::vector<std::shared_ptr<CaptureEntry>> gCaptures;

struct StartStatus {
    Signal answered;
    std::mutex mutex;
    bool ok = false;
};

bool startEntry(CaptureEntry& entry) {
    auto status = std::make_shared<StartStatus>();
    entry.start([status](bool ok, const std::string& error) {
        if (ok) {
            std::lock_guard lock(status->mutex);
            status->ok = true;
        } else {
            log("startCapture failed: %s", error.c_str());
        }
        status->answered.notify();
    });
    if (!timing().wait(status->answered, kStartLimit)) {
        log("timed out starting capture");
        return false;
    }
    std::lock_guard lock(status->mutex);
    return status->ok;
}

int32_t pointsValue(double value) {
    if (!(value > -2147483648.0 && value < 2147483648.0))
        return 0;
    return static_cast<int32_t>(value); // truncates toward zero
}

bool sizeUsable(int32_t width, int32_t height) {
    return width > 0 && height > 0 && width <= kMaxFrameSide && height <= kMaxFrameSide;
}

} // namespace

size_t runningStreams() {
    std::lock_guard lock(gCapturesLock);
    return gCaptures.size();
}

} // namespace corvane::capture

using namespace corvane::capture;

extern "C" int32_t mac_capture_add(uint32_t display_id, int32_t width, int32_t height,
                                   int32_t dest_x, int32_t dest_y, int32_t dest_w, int32_t dest_h,
                                   int32_t origin_x, int32_t origin_y, mac_frame_callback callback,
                                   void* user) {
    if (!sizeUsable(width, height)) {
        log("invalid frame size %dx%d", width, height);
        return -1;
    }
    platform::Capture& capture = corvane::platform::current().capture();
    const int32_t tries = display_id == 0 ? 1 : kTriesForVirtualDisplay;
    const auto display = findDisplay(capture, display_id, tries);
    if (!display) {
        log("display %u not found", display_id);
        return -1;
    }
    platform::CaptureSettings settings =
        settingsFor(width, height, destinationFor(width, height, dest_x, dest_y, dest_w, dest_h));
    {
        std::lock_guard lock(gCapturesLock);
        settings.captureSound = soundCallbackInstalled() && gCaptures.empty();
    }
    auto entry = std::make_shared<CaptureEntry>(DeliveryTarget{callback, user, origin_x, origin_y});
    std::string error;
    if (!entry->create(capture, *display, settings, error)) {
        log("addStreamOutput failed: %s", error.c_str());
        return -1;
    }
    if (!startEntry(*entry)) {
        entry->release(kStopLimit);
        return -1;
    }
    if (settings.captureSound)
        entry->startSound();
    std::lock_guard lock(gCapturesLock);
    gCaptures.push_back(std::move(entry));
    return 0;
}

extern "C" void mac_capture_set_fps(int32_t fps) {
    const auto interval = frameInterval(clampFps(fps));
    std::vector<std::shared_ptr<CaptureEntry>> entries;
    {
        std::lock_guard lock(gCapturesLock);
        entries = gCaptures;
    }
    for (auto& entry : entries)
        entry->setMinFrameInterval(interval);
}

extern "C" void mac_capture_stop(void) {
    std::vector<std::shared_ptr<CaptureEntry>> entries;
    {
        std::lock_guard lock(gCapturesLock);
        entries.swap(gCaptures);
    }
    for (auto& entry : entries) {
        entry->stop();
        entry->release(kStopLimit);
    }
}

extern "C" int32_t mac_capture_wait_idle(int32_t ms) {
    return waitCallbacksIdle(std::chrono::milliseconds(ms < 0 ? 0 : ms)) ? 1 : 0;
}

extern "C" int64_t mac_capture_stopped_count(void) {
    return stoppedCount();
}

extern "C" int32_t mac_display_frame(uint32_t display_id, int32_t* x, int32_t* y, int32_t* w,
                                     int32_t* h) {
    platform::Capture& capture = corvane::platform::current().capture();
    const auto display = findDisplay(capture, display_id, 1);
    if (!display)
        return 0;
    if (x)
        *x = pointsValue(display->x);
    if (y)
        *y = pointsValue(display->y);
    if (w)
        *w = pointsValue(display->width);
    if (h)
        *h = pointsValue(display->height);
    return 1;
}
