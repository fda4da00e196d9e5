// An X11 capture stream on a private Xvfb, a sink that keeps copies of the
// frames (recording_sink.h), and drawing helpers on the root window.
#pragma once
#include <gtest/gtest.h>

#include <future>

#include "e2e/harness/x11_probe.h"
#include "platform/x11/x11_capture.h"
#include "recording_sink.h"
#include "xvfb_fixture.h"

#include <X11/extensions/XTest.h>

namespace corvane::platform::x11::testing {

using namespace std::chrono_literals;

using platform::testing::CopiedFrame;
using platform::testing::covers;
using platform::testing::RecordingSink;

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
