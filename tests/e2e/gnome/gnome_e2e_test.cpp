// The gnome backend's layout end to end: our server shares a headless GNOME
// desktop (mutter on Wayland, scripts/gnome-desktop) with the real FreeRDP
// client on its own Xvfb, and the client's window becomes a virtual monitor
// of mutter's. A full-screen Wayland window of the test's own
// (corvane-probe-window) there gives it a known colour. Keys, clicks, the
// wheel, the cursor's shape, clipboard text and monitors side by side through
// the gnome backend are checked against a real mutter in tests/platform/gnome,
// their way from the client to the backend by the X11 suites and the sim
// tests.
#include <gtest/gtest.h>

#include "gnome_e2e_session.h"

using namespace e2e;

// The server says at connect when this mutter gets no virtual monitors.
bool virtualMonitorsOff(GnomeSession& s) {
    return s.serverSays("makes no virtual monitors", 5000ms);
}

// The client's window resized (dynamic resolution): the desktop follows with
// a virtual monitor of the new size, and a window on it fills the client's
// new picture.
TEST(GnomeLayout, AResizedClientWindowGetsAVirtualMonitorOfTheNewSize) {
    GnomeSession s("1280x800", "1600x1000x24");
    ASSERT_NO_FATAL_FAILURE(connect(s, {}, {"/dynamic-resolution"}));
    if (virtualMonitorsOff(s))
        GTEST_SKIP() << "virtual monitors are off with this mutter (not verified with it)";
    ASSERT_TRUE(s.serverSays("client ready", 30000ms)) << s.serverLog();
    // The client puts its window back to the desktop's size until its
    // display-control channel is up: resize again until the desktop follows.
    ASSERT_TRUE(waitUntil(
        [&] {
            s.clientDo({"windowsize", s.clientWindow(), "1200", "700"});
            return s.serverSays("changing the desktop to 1200x700", 3000ms);
        },
        30000ms))
        << s.serverLog();
    ASSERT_TRUE(waitUntil([&] { return s.logCount("virtual display 0: id") >= 2; }, 10000ms))
        << s.serverLog();
    // The old monitor went first, so the new one takes its place.
    Process window;
    ASSERT_TRUE(s.showWindow(window, 0xC04020, "window.log", {"--screen-at", "1300,10"}));
    EXPECT_TRUE(s.clientShows(0xC04020, 600, 350, 30000ms, 4)) << s.serverLog();
    EXPECT_TRUE(s.clientShows(0xC04020, 1180, 690, 5000ms, 4));
    EXPECT_EQ(s.clientWindowSize(), "1200x700");
    EXPECT_EQ(s.logCount("could not create virtual display"), 0);
}
