// The gnome backend end to end: our server shares a headless GNOME desktop
// (mutter on Wayland, scripts/gnome-desktop) with the real FreeRDP client on
// its own Xvfb. A full-screen Wayland window of the test's own
// (corvane-probe-window) gives the desktop known colours and logs the keys
// and pointer events that reach it.
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "../input/cursor_probe.h"
#include "gnome_e2e_session.h"

using namespace e2e;

// The window's colour arrives at the client, and so does a new window of
// another colour that covers it.
TEST(GnomePicture, TheWindowsColourAndItsChangeReachTheClient) {
    GnomeSession s;
    ASSERT_NO_FATAL_FAILURE(connect(s));
    Process first, second;
    ASSERT_TRUE(s.showWindow(first, 0x2E8B57, "first.log"));
    EXPECT_TRUE(s.shows(0x2E8B57, 512, 384, 30000ms));
    EXPECT_TRUE(s.shows(0x2E8B57, 20, 20, 5000ms));
    ASSERT_TRUE(s.showWindow(second, 0xC04020, "second.log"));
    EXPECT_TRUE(s.shows(0xC04020, 512, 384, 10000ms));
    EXPECT_TRUE(s.shows(0xC04020, 1000, 740, 5000ms));
}

// A key, a click and the wheel from the client reach the Wayland window
// under the pointer, as the keys and buttons the client meant.
TEST(GnomeInput, KeysClicksAndTheWheelReachTheWindow) {
    GnomeSession s;
    ASSERT_NO_FATAL_FAILURE(connect(s));
    Process window;
    ASSERT_TRUE(s.showWindow(window, 0x3366CC, "window.log"));
    ASSERT_TRUE(s.shows(0x3366CC, 512, 384, 30000ms));
    ASSERT_TRUE(s.waitForPointerPath("window.log"));

    ASSERT_TRUE(s.clientDo({"key", "a"}));
    EXPECT_TRUE(s.windowLogs("window.log", "key press key=0x41 scan=38 text=a"));
    EXPECT_TRUE(s.windowLogs("window.log", "key release key=0x41 scan=38 text=a"));
    ASSERT_TRUE(s.clientDo({"key", "shift+b"}));
    EXPECT_TRUE(s.windowLogs("window.log", "key press key=0x42 scan=56 text=B"));

    ASSERT_TRUE(s.clientDo({"click", "1"}));
    EXPECT_TRUE(s.windowLogs("window.log", "mouse press button=1 "));
    EXPECT_TRUE(s.windowLogs("window.log", "mouse release button=1 "));
    ASSERT_TRUE(s.clientDo({"click", "3"}));
    EXPECT_TRUE(s.windowLogs("window.log", "mouse press button=2 ")) << "Qt's right button is 2";

    // X button 4 is the wheel turned away from the user: up, positive in Qt.
    ASSERT_TRUE(s.clientDo({"click", "4"}));
    EXPECT_TRUE(s.windowLogs("window.log", "wheel dx=0 dy=120"));
    ASSERT_TRUE(s.clientDo({"click", "5"}));
    EXPECT_TRUE(s.windowLogs("window.log", "wheel dx=0 dy=-120"));
}

namespace {

bool centred(const ShownCursor& c) {
    return c.width > 8 && std::abs(c.xhot - c.width / 2) <= 2 &&
           std::abs(c.yhot - c.height / 2) <= 2;
}
bool topLeft(const ShownCursor& c) {
    return c.width > 8 && c.xhot < c.width / 3 && c.yhot < c.height / 3;
}
std::string describe(const std::optional<ShownCursor>& c) {
    if (!c)
        return "no cursor";
    return std::to_string(c->width) + "x" + std::to_string(c->height) + " hot " +
           std::to_string(c->xhot) + "," + std::to_string(c->yhot);
}

} // namespace

// The shape a Wayland window sets for the pointer (mutter sends it beside
// the picture) becomes the client's pointer: the cross of one window with
// its hot spot in the middle, then the arrow of a window above it. Neither
// is the cursor the client's display showed before (Xvfb's X, also
// centred).
TEST(GnomeCursor, TheClientShowsTheShapeTheWindowUnderThePointerSets) {
    GnomeSession s;
    ASSERT_TRUE(s.ok());
    const auto before = shownCursor(s.clientDisplay());
    ASSERT_TRUE(before);
    ASSERT_TRUE(s.startServer({}, {"+server-side-cursor"}));
    ASSERT_TRUE(s.startClient());
    struct Case {
        const char* shape;
        uint32_t colour;
        bool (*expected)(const ShownCursor&);
    };
    const Case cases[] = {{"cross", 0x3366CC, centred}, {"arrow", 0xC04020, topLeft}};
    std::vector<std::unique_ptr<Process>> windows;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shape);
        windows.push_back(std::make_unique<Process>());
        const std::string log = std::string(c.shape) + ".log";
        ASSERT_TRUE(s.showWindow(*windows.back(), c.colour, log, {"--cursor", c.shape}));
        ASSERT_TRUE(s.shows(c.colour, 512, 384, 30000ms));
        std::optional<ShownCursor> shown;
        int step = 0;
        EXPECT_TRUE(waitUntil(
            [&] {
                s.clientDo({"mousemove", "--window", s.clientWindow(),
                            std::to_string(400 + step++ % 40), "300"});
                shown = shownCursor(s.clientDisplay());
                return shown && *shown != *before && c.expected(*shown);
            },
            20000ms, 300ms))
            << "the client shows " << describe(shown) << " (before: " << describe(before) << ")";
    }
}

// The server says at connect when this mutter gets no virtual monitors.
bool virtualMonitorsOff(GnomeSession& s) {
    return s.serverSays("makes no virtual monitors", 5000ms);
}

// A client smaller than the real monitor gets a virtual monitor of its own
// size beside it (mutter cannot mirror), and sees a window opened there.
TEST(GnomeLayout, TheClientGetsAVirtualMonitorOfItsSize) {
    GnomeSession s("1280x800");
    ASSERT_NO_FATAL_FAILURE(connect(s));
    if (virtualMonitorsOff(s))
        GTEST_SKIP() << "virtual monitors are off with this mutter (not verified with it)";
    ASSERT_TRUE(s.serverSays("desktop is 1024x768 before activating the client", 30000ms))
        << s.serverLog();
    EXPECT_EQ(s.clientWindowSize(), "1024x768");
    // mutter puts the virtual monitor to the right of the real one; the
    // window asks for it.
    ASSERT_TRUE(s.serverSays("mutter's layout position 1280,0", 5000ms)) << s.serverLog();
    Process window;
    ASSERT_TRUE(s.showWindow(window, 0x2E8B57, "window.log", {"--screen-at", "1300,10"}));
    EXPECT_TRUE(s.shows(0x2E8B57, 512, 384, 30000ms));
    EXPECT_TRUE(s.shows(0x2E8B57, 1000, 740, 5000ms));
    EXPECT_EQ(s.logCount("could not create virtual display"), 0);
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
    EXPECT_TRUE(s.shows(0xC04020, 600, 350, 30000ms));
    EXPECT_TRUE(s.shows(0xC04020, 1180, 690, 5000ms));
    EXPECT_EQ(s.clientWindowSize(), "1200x700");
    EXPECT_EQ(s.logCount("could not create virtual display"), 0);
}

// Two client monitors get a virtual monitor each; mutter puts them in a row
// right of the real one, and a window on each shows on its client monitor.
TEST(GnomeLayout, TwoClientMonitorsGetAVirtualMonitorEach) {
    GnomeSession s("1280x800", "2560x1024x24");
    ASSERT_TRUE(s.ok());
    run({"xrandr", "--fb", "2560x1024"}, s.clientEnv(), 5000ms);
    for (const char* side : {"left 1280/338x1024/270+0+0", "right 1280/338x1024/270+1280+0"})
        run({"sh", "-c", std::string("xrandr --setmonitor ") + side + " none"}, s.clientEnv(),
            5000ms);
    ASSERT_TRUE(s.startServer());
    ASSERT_TRUE(s.startClient({"/multimon", "/monitors:0,1"}));
    if (virtualMonitorsOff(s))
        GTEST_SKIP() << "virtual monitors are off with this mutter (not verified with it)";
    ASSERT_TRUE(s.serverSays("virtual display 1: id", 30000ms)) << s.serverLog();
    ASSERT_TRUE(s.serverSays("mutter's layout position 2560,0", 5000ms)) << s.serverLog();
    Process left, right;
    ASSERT_TRUE(s.showWindow(left, 0x2E8B57, "left.log", {"--screen-at", "1300,10"}));
    ASSERT_TRUE(s.showWindow(right, 0xC04020, "right.log", {"--screen-at", "2600,10"}));
    EXPECT_TRUE(s.shows(0x2E8B57, 600, 700, 30000ms));
    EXPECT_TRUE(s.shows(0xC04020, 1900, 700, 30000ms));
}
