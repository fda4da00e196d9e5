// The gnome backend end to end: our server shares a headless GNOME desktop
// (mutter on Wayland, scripts/gnome-desktop) with the real FreeRDP client on
// its own Xvfb. A full-screen Wayland window of the test's own
// (corvane-probe-window) gives the desktop known colours and logs the keys
// and pointer events that reach it.
#include <gtest/gtest.h>

#include <sstream>

#include "e2e_session.h"

using namespace e2e;

namespace {

const std::string kProbeWindow = CORVANE_PROBE_WINDOW_BIN;

bool xdotool(const Env& env, std::vector<std::string> args, std::string* out = nullptr) {
    args.insert(args.begin(), "xdotool");
    return run(args, env, 5000ms, out) == std::optional<int>(0);
}

std::string hex(uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "%06X", rgb & 0xFFFFFF);
    return text;
}

class GnomeSession : public Session {
  public:
    explicit GnomeSession(const std::string& desktop = "1024x768",
                          const std::string& client = "1280x900x24")
        : Session(suites::gnome, OnGnome{desktop}, client) {}

    bool startServer() {
        std::vector<std::string> args = {"-auth", "/sec:tls"};
        args.insert(args.end(), kPlanarOnly.begin(), kPlanarOnly.end());
        return Session::startServer(args, {{"MAC_SHADOW_AUDIO", "0"}});
    }
    // True once the client's window shows.
    bool startClient(const std::vector<std::string>& shape = {"/size:1024x768"}) {
        std::vector<std::string> args = {"/sec:tls", "/u:x", "/p:x", "-decorations"};
        args.insert(args.end(), shape.begin(), shape.end());
        return Session::startClient(args) &&
               waitUntil([&] { return findClientWindow(); }, 20000ms, 200ms);
    }
    // A full-screen window of that colour on the desktop, logging to `log`;
    // true once the compositor showed it. Started after the client
    // connected: a Wayland client learns of the remote keyboard only when it
    // exists as it joins.
    bool showWindow(Process& window, uint32_t rgb, const std::string& log,
                    const std::vector<std::string>& more = {}) {
        const Env env = merged(desktopEnv(), {{"QT_QPA_PLATFORM", "wayland"}});
        std::vector<std::string> argv = {kProbeWindow, "--colour", hex(rgb), "--log",
                                         dir().file(log)};
        argv.insert(argv.end(), more.begin(), more.end());
        return window.start(argv, env, dir().file(log + ".out"), dir().file(log + ".err")) &&
               waitUntil([&] { return fileContains(dir().file(log), "mapped "); }, 20000ms);
    }
    // Moves the client's pointer until the window logs a move: the picture
    // runs and the input path is open.
    bool waitForPointerPath(const std::string& log) {
        int step = 0;
        return waitUntil(
            [&] {
                const int x = 300 + (step++ % 40);
                clientDo({"mousemove", "--window", window_, std::to_string(x), "300"});
                return fileContains(dir().file(log), "mouse move ");
            },
            30000ms, 300ms);
    }
    bool clientDo(const std::vector<std::string>& args) { return xdotool(clientEnv(), args); }
    // The client window's size, "WxH".
    std::string clientWindowSize() {
        std::string out;
        xdotool(clientEnv(), {"getwindowgeometry", window_}, &out);
        const auto at = out.find("Geometry: ");
        return at == std::string::npos ? out : out.substr(at + 10, out.find('\n', at) - at - 10);
    }

    bool windowLogs(const std::string& log, const std::string& text, Duration limit = 10000ms) {
        return waitUntil([&] { return fileContains(dir().file(log), text); }, limit);
    }

  private:
    bool findClientWindow() {
        std::string out;
        if (!xdotool(clientEnv(), {"search", "--onlyvisible", "--class", "xfreerdp"}, &out) ||
            out.empty())
            return false;
        window_ = out.substr(0, out.find('\n'));
        return true;
    }
    std::string window_;
};

void connect(GnomeSession& s) {
    ASSERT_TRUE(s.ok()) << "the headless GNOME desktop or the client's Xvfb did not start";
    ASSERT_TRUE(s.startServer());
    ASSERT_TRUE(s.startClient());
}

} // namespace

// The window's colour arrives at the client, and so does a new window of
// another colour that covers it.
TEST(GnomePicture, TheWindowsColourAndItsChangeReachTheClient) {
    GnomeSession s;
    ASSERT_NO_FATAL_FAILURE(connect(s));
    Process first, second;
    ASSERT_TRUE(s.showWindow(first, 0x2E8B57, "first.log"));
    EXPECT_TRUE(s.clientShows(0x2E8B57, 512, 384, 30000ms, 4));
    EXPECT_TRUE(s.clientShows(0x2E8B57, 20, 20, 5000ms, 4));
    ASSERT_TRUE(s.showWindow(second, 0xC04020, "second.log"));
    EXPECT_TRUE(s.clientShows(0xC04020, 512, 384, 10000ms, 4));
    EXPECT_TRUE(s.clientShows(0xC04020, 1000, 740, 5000ms, 4));
}

// A key, a click and the wheel from the client reach the Wayland window
// under the pointer, as the keys and buttons the client meant.
TEST(GnomeInput, KeysClicksAndTheWheelReachTheWindow) {
    GnomeSession s;
    ASSERT_NO_FATAL_FAILURE(connect(s));
    Process window;
    ASSERT_TRUE(s.showWindow(window, 0x3366CC, "window.log"));
    ASSERT_TRUE(s.clientShows(0x3366CC, 512, 384, 30000ms, 4));
    ASSERT_TRUE(s.waitForPointerPath("window.log"));

    // The first key typed must arrive too: on a seat without a keyboard of
    // its own (a headless desktop) mutter 43 adds the remote keyboard only
    // on its first key press, and a window learns of it only after that
    // press went by.
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

// A client smaller than the real monitor gets a virtual monitor of its own
// size beside it (mutter cannot mirror), and sees a window opened there.
TEST(GnomeLayout, TheClientGetsAVirtualMonitorOfItsSize) {
    GnomeSession s("1280x800");
    ASSERT_NO_FATAL_FAILURE(connect(s));
    ASSERT_TRUE(s.serverSays("desktop is 1024x768 before activating the client", 30000ms))
        << s.serverLog();
    EXPECT_EQ(s.clientWindowSize(), "1024x768");
    // mutter puts the virtual monitor to the right of the real one; the
    // window asks for it.
    ASSERT_TRUE(s.serverSays("mutter's layout position 1280,0", 5000ms)) << s.serverLog();
    Process window;
    ASSERT_TRUE(s.showWindow(window, 0x2E8B57, "window.log", {"--screen-at", "1300,10"}));
    EXPECT_TRUE(s.clientShows(0x2E8B57, 512, 384, 30000ms, 4)) << s.serverLog();
    EXPECT_TRUE(s.clientShows(0x2E8B57, 1000, 740, 5000ms, 4));
    EXPECT_EQ(s.logCount("could not create virtual display"), 0);
}

// Two client monitors get a virtual monitor each; mutter puts them in a row
// right of the real one, and a window on each shows on its client monitor.
TEST(GnomeLayout, TwoClientMonitorsGetAVirtualMonitorEach) {
    GnomeSession s("1280x800", "2560x1024x24");
    ASSERT_TRUE(s.ok());
    for (const char* cmd : {"--fb 2560x1024", "--setmonitor left 1280/338x1024/270+0+0 none",
                            "--setmonitor right 1280/338x1024/270+1280+0 none"}) {
        std::vector<std::string> argv = {"xrandr"};
        std::istringstream in(cmd);
        for (std::string w; in >> w;)
            argv.push_back(w);
        run(argv, s.clientEnv(), 5000ms);
    }
    ASSERT_TRUE(s.startServer());
    ASSERT_TRUE(s.startClient({"/multimon", "/monitors:0,1"}));
    ASSERT_TRUE(s.serverSays("virtual display 1: id", 30000ms)) << s.serverLog();
    ASSERT_TRUE(s.serverSays("mutter's layout position 2560,0", 5000ms)) << s.serverLog();
    Process left, right;
    ASSERT_TRUE(s.showWindow(left, 0x2E8B57, "left.log", {"--screen-at", "1300,10"}));
    ASSERT_TRUE(s.showWindow(right, 0xC04020, "right.log", {"--screen-at", "2600,10"}));
    EXPECT_TRUE(s.clientShows(0x2E8B57, 600, 700, 30000ms, 4)) << s.serverLog();
    EXPECT_TRUE(s.clientShows(0xC04020, 1900, 700, 30000ms, 4));
}
