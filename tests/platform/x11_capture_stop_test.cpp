// A stream whose X server goes away reports that it stopped, and the process
// lives on.
#include "x11_capture_fixture.h"

namespace corvane::platform::x11::testing {
namespace {

TEST_F(X11CaptureTest, KilledServerStopsTheStream) {
    start(160, 100);
    startStream(settings(160, 100));
    ASSERT_TRUE(sink_.waitForFrames(1));
    // Our own drawing connection goes first: closing it after the server is
    // gone would end the process.
    XCloseDisplay(d_);
    d_ = nullptr;
    xvfb_->kill();
    ASSERT_TRUE(sink_.waitUntil([&] { return !sink_.stopReasons.empty(); }));
    EXPECT_EQ(sink_.stopReasons[0], "the X connection was lost");
    // Stopping a stream that already ended answers at once.
    bool stopped = false;
    stream_->stop([&] { stopped = true; });
    EXPECT_TRUE(stopped);
}

TEST_F(X11CaptureTest, StopOnRequestIsConfirmedAndNotReportedAsStopped) {
    start(160, 100);
    startStream(settings(160, 100));
    ASSERT_TRUE(sink_.waitForFrames(1));
    std::mutex m;
    std::condition_variable cv;
    bool stopped = false;
    stream_->stop([&] {
        std::lock_guard lock(m);
        stopped = true;
        cv.notify_all();
    });
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 5s, [&] { return stopped; }));
    EXPECT_TRUE(sink_.stopReasons.empty());
}

TEST_F(X11CaptureTest, ScreenSizeChangeStopsTheStream) {
    start(320, 200);
    startStream(settings(320, 200));
    ASSERT_TRUE(sink_.waitForFrames(1));
    ASSERT_EQ(std::system(
                  ("xrandr -display " + xvfb_->name() + " --fb 300x180 >/dev/null 2>&1").c_str()) >=
                  0,
              true);
    ASSERT_TRUE(sink_.waitUntil([&] { return !sink_.stopReasons.empty(); }));
    EXPECT_EQ(sink_.stopReasons[0], "display 0 changed size or went away");
}

} // namespace
} // namespace corvane::platform::x11::testing
