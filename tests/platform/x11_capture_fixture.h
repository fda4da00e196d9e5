// An X11 capture stream on a private Xvfb, a sink that keeps copies of the
// frames, and drawing helpers on the root window.
#pragma once
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>

#include "platform/x11/x11_capture.h"
#include "xvfb_fixture.h"

#include <X11/extensions/XTest.h>

namespace corvane::platform::x11::testing {

using namespace std::chrono_literals;

struct CopiedFrame {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
    std::vector<DirtyRect> dirty;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x] & 0xffffff; }
};

class RecordingSink : public CaptureSink {
  public:
    void frameArrived(FrameHandle frame) override {
        CopiedFrame copy;
        copy.width = frame->width;
        copy.height = frame->height;
        copy.dirty = frame->dirty;
        copy.pixels.resize(size_t(frame->width) * frame->height);
        for (int32_t y = 0; y < frame->height; ++y)
            std::memcpy(&copy.pixels[size_t(y) * frame->width], frame->pixels + y * frame->stride,
                        size_t(frame->width) * 4);
        std::lock_guard lock(mutex_);
        if (holdFrames)
            held.push_back(std::move(frame));
        maxHeld = std::max(maxHeld, held.size());
        frames.push_back(std::move(copy));
        cv_.notify_all();
    }
    void streamStopped(const std::string& reason) override {
        std::lock_guard lock(mutex_);
        stopReasons.push_back(reason);
        cv_.notify_all();
    }
    template <class Pred> bool waitUntil(Pred pred, std::chrono::milliseconds limit = 10s) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return pred(); });
    }
    bool waitForFrames(size_t n) {
        return waitUntil([&] { return frames.size() >= n; });
    }
    CopiedFrame frame(size_t i) {
        std::lock_guard lock(mutex_);
        return frames.at(i);
    }
    size_t count() {
        std::lock_guard lock(mutex_);
        return frames.size();
    }
    size_t mostHeld() {
        std::lock_guard lock(mutex_);
        return maxHeld;
    }
    // Lets go of the frames held so far and holds no more.
    void releaseHeld() {
        std::vector<FrameHandle> released;
        {
            std::lock_guard lock(mutex_);
            holdFrames = false;
            released.swap(held);
        }
    }

    bool holdFrames = false; // set before the stream starts
    std::vector<FrameHandle> held;
    size_t maxHeld = 0;
    std::vector<CopiedFrame> frames;
    std::vector<std::string> stopReasons;

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
};

class X11CaptureTest : public XvfbTest {
  protected:
    void start(int width, int height) {
        startXvfb(std::to_string(width) + "x" + std::to_string(height) + "x24");
    }
    void TearDown() override {
        stream_.reset();
        XvfbTest::TearDown();
    }
    void fillRoot(unsigned long rgb) {
        XSetWindowBackground(d_, DefaultRootWindow(d_), rgb);
        XClearWindow(d_, DefaultRootWindow(d_));
        XSync(d_, False);
    }
    void fillRect(int x, int y, int w, int h, uint32_t rgb) {
        ASSERT_TRUE(e2e::fillRect(xvfb_->name(), x, y, w, h, rgb));
    }
    // Moves the pointer as injected input does (XTest); a warp by an
    // application is not device motion and shows up with the next one.
    void movePointer(int x, int y) {
        XTestFakeMotionEvent(d_, 0, x, y, CurrentTime);
        XSync(d_, False);
    }
    // Starts a stream of display 0 and waits for the start to be confirmed.
    void startStream(const CaptureSettings& settings) {
        std::string error;
        stream_ = capture_.createStream({0, 0, 0, 0, 0}, settings, sink_, error);
        ASSERT_NE(stream_, nullptr) << error;
        std::promise<std::pair<bool, std::string>> answer;
        stream_->start([&](bool ok, const std::string& e) { answer.set_value({ok, e}); });
        auto started = answer.get_future();
        ASSERT_EQ(started.wait_for(10s), std::future_status::ready);
        const auto [ok, e] = started.get();
        ASSERT_TRUE(ok) << e;
    }
    // A screen of that size whose stream of it has delivered its first frame.
    void streaming(int width, int height) {
        start(width, height);
        startStream(settings(width, height));
        ASSERT_TRUE(sink_.waitForFrames(1));
    }
    static CaptureSettings settings(int w, int h, bool cursor = false) {
        CaptureSettings s;
        s.width = w;
        s.height = h;
        s.showCursor = cursor;
        s.minFrameInterval = 10ms;
        return s;
    }

    X11Capture capture_;
    RecordingSink sink_;
    std::unique_ptr<CaptureStream> stream_;
};

} // namespace corvane::platform::x11::testing
