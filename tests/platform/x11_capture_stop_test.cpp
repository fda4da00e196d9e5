// A stream whose X server goes away reports that it stopped, and the process
// lives on.
#include <atomic>

#include "x11_capture_fixture.h"

namespace corvane::platform::x11::testing {
namespace {

TEST_F(X11CaptureTest, KilledServerStopsTheStream) {
    ASSERT_NO_FATAL_FAILURE(streaming(160, 100));
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
    ASSERT_NO_FATAL_FAILURE(streaming(160, 100));
    std::atomic<bool> stopped{false};
    stream_->stop([&] { stopped = true; });
    ASSERT_TRUE(e2e::waitUntil([&] { return stopped.load(); }, 5s));
    EXPECT_TRUE(sink_.stopReasons.empty());
}

TEST_F(X11CaptureTest, ScreenSizeChangeStopsTheStream) {
    ASSERT_NO_FATAL_FAILURE(streaming(320, 200));
    e2e::run({"xrandr", "-display", xvfb_->name(), "--fb", "300x180"}, {}, 10s);
    ASSERT_TRUE(sink_.waitUntil([&] { return !sink_.stopReasons.empty(); }));
    EXPECT_EQ(sink_.stopReasons[0], "display 0 changed size or went away");
}

} // namespace
} // namespace corvane::platform::x11::testing
