// A sim platform behind the bridge, waits that return at once (recording
// their limits), and a frame receiver the tests can wait on.
#pragma once
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_config.h"
#include "capture/capture_streams.h"
#include "capture/capture_timing.h"
#include "capture/mac_capture.h"
#include "capture/sound_bridge.h"
#include "server/core/sim_fixture.h"

namespace corvane::capture::testing {

using namespace std::chrono_literals;
using platform::CaptureDisplay;
using platform::sim::SimAnswer;
using platform::sim::SimFrame;
using ::testing::HasSubstr;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// Nothing really waits: a signal that has not come times out at once.
class InstantTiming : public Timing {
  public:
    bool wait(Signal& signal, std::chrono::milliseconds limit) override {
        waits.push_back(limit);
        return signal.notified();
    }
    void sleep(std::chrono::milliseconds duration) override { sleeps.push_back(duration); }
    std::vector<std::chrono::milliseconds> waits;
    std::vector<std::chrono::milliseconds> sleeps;
};

struct ReceivedFrame {
    void* user;
    int32_t originX, originY, width, height;
    intptr_t stride;
    uint32_t firstPixel;
    std::vector<int32_t> rects;
    std::thread::id thread;
};

// Records every frame; the callback's user pointer is the receiver.
class Receiver {
  public:
    static void callback(void* user, int32_t ox, int32_t oy, const uint8_t* pixels, intptr_t stride,
                         int32_t width, int32_t height, const int32_t* rects, int32_t count) {
        auto* self = static_cast<Receiver*>(user);
        ReceivedFrame f{user,
                        ox,
                        oy,
                        width,
                        height,
                        stride,
                        0,
                        std::vector<int32_t>(rects, rects + count * 4),
                        std::this_thread::get_id()};
        std::memcpy(&f.firstPixel, pixels, 4);
        if (self->inCallback.exchange(true))
            self->overlapped = true;
        if (self->hold)
            self->hold();
        self->inCallback = false;
        std::lock_guard lock(self->mutex);
        self->frames.push_back(std::move(f));
        self->cv.notify_all();
    }
    // Waits (bounded) until `count` frames arrived.
    bool waitFor(size_t count) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 5s, [&] { return frames.size() >= count; });
    }
    std::vector<ReceivedFrame> snapshot() {
        std::lock_guard lock(mutex);
        return frames;
    }

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<ReceivedFrame> frames;
    std::atomic<bool> inCallback{false};
    std::atomic<bool> overlapped{false};
    std::function<void()> hold;
};

inline SimFrame solidFrame(int32_t w, int32_t h, uint32_t colour,
                           std::vector<platform::DirtyRect> dirty = {}) {
    SimFrame f;
    f.width = w;
    f.height = h;
    f.pixels.assign(size_t(w) * h, colour);
    f.dirty = std::move(dirty);
    return f;
}

class BridgeTest : public SimPlatformTest {
  protected:
    void SetUp() override {
        SimPlatformTest::SetUp();
        setTimingForTests(&timing_);
        unsetenv("MAC_SHADOW_FPS");
        unsetenv("MAC_SHADOW_CURSOR");
        capture().setDisplays({{1, 0, 0, 1440, 900}, {7, 1440, 0, 1920, 1080}}, 1);
    }
    void TearDown() override {
        mac_capture_stop();
        // The sound's thread lets go of the platform before it is replaced.
        EXPECT_TRUE(settleSound(5s));
        setSoundCallbackInstalled(false);
        setTimingForTests(nullptr);
        SimPlatformTest::TearDown();
    }

    platform::sim::SimCapture& capture() { return sim().simCapture(); }
    std::shared_ptr<platform::sim::SimStreamState> stream(size_t i) {
        auto all = capture().streams();
        return i < all.size() ? all[i] : nullptr;
    }
    int32_t addMain(Receiver* receiver = nullptr, int32_t w = 64, int32_t h = 32) {
        return mac_capture_add(0, w, h, 0, 0, w, h, 0, 0, receiver ? &Receiver::callback : nullptr,
                               receiver);
    }

    InstantTiming timing_;
};

} // namespace corvane::capture::testing
