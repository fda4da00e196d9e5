// The desktop fits the client: connect size, resizes, two monitors and their
// re-layout, a HiDPI client, an active output (and a monitor that cannot take
// the client's size), the screen given back after the last client and at
// SIGTERM, and a screen resized from outside. The server's Xvfb has room to
// grow (8192 x 4096) and is set to 1280 x 800 at start, as scripts/run does.
#include <csignal>
#include <cstdio>
#include <sstream>

#include <gtest/gtest.h>

#include "control_peer.h"
#include "e2e_session.h"

using namespace e2e;

namespace {

// Runs a small X tool and returns its output ("" when it failed).
std::string tool(const std::vector<std::string>& argv, const std::string& display) {
    std::string out;
    return run(argv, {{"DISPLAY", display}}, 10000ms, &out) == std::optional<int>(0) ? out : "";
}

class LayoutSession : public Session {
  public:
    explicit LayoutSession(const std::string& clientGeometry)
        : Session(suites::layout, "8192x4096x24", clientGeometry) {}

    // "" when the desktop is 1280 x 800 and the server listens, else why not.
    std::string start(bool outputOn = false, const Env& env = {}) {
        if (!ok())
            return "no Xvfb";
        onServer({"xrandr", "--fb", "1280x800"});
        if (outputOn) {
            onServer({"xrandr", "--newmode", "own", "60", "1280", "1281", "1282", "1283", "800",
                      "801", "802", "803"});
            onServer({"xrandr", "--addmode", "screen", "own"});
            onServer({"xrandr", "--output", "screen", "--mode", "own"});
            if (outputMode() != "1280x800")
                return "the output shows " + outputMode();
        }
        if (serverSize() != "1280x800")
            return "the server's screen is " + serverSize();
        return startServer({"-auth", "/sec:tls"}, merged({{"CORVANE_PLATFORM", "x11"}}, env))
                   ? ""
                   : "the server does not listen";
    }
    bool startClient(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"/sec:tls", "/u:x", "/p:x"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Session::startClient(args);
    }
    bool serverBecomes(const std::string& size, Duration limit) {
        return waitUntil([&] { return serverSize() == size; }, limit, 100ms);
    }
    std::string serverSize() {
        const std::string info = onServer({"xdpyinfo"});
        const auto at = info.find("dimensions:");
        if (at == std::string::npos)
            return "";
        std::istringstream in(info.substr(at + 11));
        std::string size;
        in >> size;
        return size;
    }
    std::string serverMonitors() { return onServer({"xrandr", "--listmonitors"}); }
    // The size the server's output shows ("" when it is off).
    std::string outputMode() {
        const std::string out = onServer({"xrandr"});
        const std::string connected = "screen connected ";
        const auto at = out.find(connected);
        if (at == std::string::npos)
            return "";
        std::istringstream in(out.substr(at + connected.size()));
        std::string geometry;
        in >> geometry;
        const auto plus = geometry.find('+');
        return plus == std::string::npos ? "" : geometry.substr(0, plus);
    }
    // Lines of the server's log that speak of a Mac on this Linux desktop.
    std::vector<std::string> macLines() {
        std::vector<std::string> found;
        std::istringstream in(serverLog());
        for (std::string line; std::getline(in, line);)
            if (line.find("macOS") != std::string::npos ||
                line.find("the Mac") != std::string::npos ||
                line.find("Mac position") != std::string::npos ||
                line.find("CGError") != std::string::npos)
                found.push_back(line);
        return found;
    }
    std::string onClient(const std::vector<std::string>& argv) {
        return tool(argv, clientDisplay());
    }
    std::string serverPointer() { return onServer({"xdotool", "getmouselocation"}); }
    bool pointerAt(const std::string& xy) { return serverPointer().find(xy) != std::string::npos; }
    // The client shows the colour at each point (within what H.264 shifts).
    void expectShows(uint32_t rgb, std::initializer_list<std::pair<int, int>> points,
                     Duration limit = 15000ms) {
        for (const auto& [x, y] : points)
            EXPECT_TRUE(clientShows(rgb, x, y, limit, 8))
                << x << "," << y << ": " << std::hex << pixelAt(clientDisplay(), x, y).value_or(0);
    }
    std::string onServer(const std::vector<std::string>& argv) {
        return tool(argv, serverDisplay());
    }
};

// With MAC_SHADOW_ASK=ask, the size a client asks for at connect is taken
// only once the host lets it in: a refused client never changed the
// desktop, an allowed one gets its size before it sees the desktop.
TEST(LayoutE2E, AClientHeldAtThePromptLeavesTheDesktopAlone) {
    LayoutSession s("1400x900x24");
    const std::string path = s.dir().file("run/control");
    ASSERT_EQ(s.start(false, {{"MAC_SHADOW_ASK", "ask"}, {"MAC_SHADOW_CONTROL", path}}), "");
    ControlPeer app;
    ASSERT_TRUE(waitUntil([&] { return app.connect(path); }, 10000ms));
    auto answerNextPrompt = [&](const char* answer) {
        auto prompt = app.next("prompt", 0, 15000ms);
        const uint64_t id = prompt ? (*prompt)["id"].get<uint64_t>() : 0;
        // Held a while first: its size must not arrive meanwhile.
        const bool unchanged = !s.serverBecomes("1024x768", 3000ms);
        return prompt && unchanged && app.answer(id, answer) &&
               app.next("prompt-closed", id, 10000ms);
    };
    ASSERT_TRUE(s.startClient({"/size:1024x768"}));
    ASSERT_TRUE(answerNextPrompt("refuse"));
    EXPECT_TRUE(s.client().waitExit(10000ms).has_value()) << "refused";
    EXPECT_EQ(s.serverSize(), "1280x800") << "a refused client changed the desktop";

    Process allowed;
    ASSERT_TRUE(allowed.start(s.clientCommand({"/sec:tls", "/u:x", "/p:x", "/size:1024x768"}),
                              s.clientEnv(), s.dir().file("client2.log"),
                              s.dir().file("client2.log")));
    ASSERT_TRUE(answerNextPrompt("allow"));
    EXPECT_TRUE(s.serverBecomes("1024x768", 15000ms));
    EXPECT_TRUE(s.serverSays("desktop is 1024x768 before activating the client", 15000ms));
}

// xfreerdp3 in /multimon mode sends no layout after connecting unless its
// monitors change: the two monitors come from its core data at connect.
TEST(LayoutE2E, TwoMonitors) {
    // A client display with two monitors side by side.
    LayoutSession s("2560x1024x24");
    ASSERT_EQ(s.start(), "");
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "screen-resize");
    s.onClient({"xrandr", "--fb", "2560x1024"});
    s.onClient({"xrandr", "--setmonitor", "left", "1280/338x1024/270+0+0", "none"});
    s.onClient({"xrandr", "--setmonitor", "right", "1280/338x1024/270+1280+0", "none"});
    // Xvfb's own output stays listed as a third monitor covering both: the
    // client is told to use the two (FreeRDP refuses overlapping monitors).
    ASSERT_TRUE(s.startClient({"/multimon", "/monitors:0,1", "/dynamic-resolution"}));
    ASSERT_TRUE(s.serverBecomes("2560x1024", 20000ms))
        << s.onClient({"xrandr", "--listmonitors"}) << s.clientLog();
    const std::string mons = s.serverMonitors();
    EXPECT_NE(mons.find("1280/"), std::string::npos) << mons;
    EXPECT_NE(mons.find("+1280+0"), std::string::npos) << mons;
    EXPECT_NE(mons.find("Corvane Display 2 ["), std::string::npos) << mons;
    ASSERT_TRUE(s.serverSays("client ready", 10000ms));
    // The picture spans both monitors, and a click on the second lands at
    // its place on the desktop.
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#3366cc"));
    s.expectShows(0x3366cc, {{600, 700}, {1900, 700}});
    s.onClient({"xdotool", "mousemove", "1500", "300", "click", "1"});
    EXPECT_TRUE(waitUntil([&] { return s.pointerAt("x:1500 y:300"); }, 5000ms))
        << s.serverPointer();
}

// The client's monitors change while it is connected: the mirrored desktop
// takes the new layout (the old virtual displays wait beside the new ones
// within the X screen's 8192 x 4096) and the picture keeps coming.
TEST(LayoutE2E, TwoMonitorsLaidOutAgain) {
    LayoutSession s("3840x1080x24");
    ASSERT_EQ(s.start(), "");
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "screen-resize");
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "display-control");
    s.onClient({"xrandr", "--setmonitor", "left", "1920/508x1080/286+0+0", "none"});
    s.onClient({"xrandr", "--setmonitor", "right", "1920/508x1080/286+1920+0", "none"});
    ASSERT_TRUE(s.startClient({"/multimon", "/monitors:0,1", "/dynamic-resolution"}));
    ASSERT_TRUE(s.serverBecomes("3840x1080", 20000ms)) << s.clientLog();
    ASSERT_TRUE(s.serverSays("client ready", 10000ms));
    // The client sends its monitors again when its screen changes.
    s.onClient({"xrandr", "--delmonitor", "left"});
    s.onClient({"xrandr", "--delmonitor", "right"});
    s.onClient({"xrandr", "--setmonitor", "left", "1800/476x1080/286+0+0", "none"});
    s.onClient({"xrandr", "--setmonitor", "right", "1920/508x1080/286+1800+0", "none"});
    s.onClient({"xrandr", "--fb", "3720x1080"});
    ASSERT_TRUE(s.serverBecomes("3720x1080", 20000ms))
        << s.onClient({"xrandr", "--listmonitors"}) << s.clientLog();
    const std::string mons = s.serverMonitors();
    EXPECT_NE(mons.find("1800/"), std::string::npos) << mons;
    EXPECT_NE(mons.find("+1800+0"), std::string::npos) << mons;
    EXPECT_EQ(mons.find("Corvane Display 1 ["), mons.rfind("Corvane Display 1 [")) << mons;
    EXPECT_EQ(mons.find("Corvane Display 2 ["), mons.rfind("Corvane Display 2 [")) << mons;
    EXPECT_EQ(s.logCount("arranging the virtual displays failed"), 0);
    EXPECT_EQ(s.logCount("could not mirror"), 0);
    EXPECT_EQ(s.logCount("not found"), 0);
    EXPECT_EQ(s.logCount("could not restart the capture"), 0);
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#cc6633"));
    s.expectShows(0xcc6633, {{600, 700}, {2600, 700}});
}

// A client that asks for 2x: the desktop keeps the client's full pixel size
// and runs at 2x (the resources a 2x desktop gives its programs, and their
// return, are checked on an Xvfb in tests/platform), until the client leaves.
// No line of the log speaks of a Mac.
TEST(LayoutE2E, HidpiClientGetsATwoTimesDesktop) {
    LayoutSession s("1800x1000x24");
    ASSERT_EQ(s.start(), "");
    ASSERT_TRUE(s.startClient({"/size:1800x1000", "/scale-desktop:200"}));
    ASSERT_TRUE(s.serverSays("desktop is 1800x1000 before activating the client", 15000ms))
        << s.clientLog();
    EXPECT_EQ(s.serverSize(), "1800x1000");
    EXPECT_TRUE(s.serverSays("HiDPI: the 1800x1000 desktop runs at 2x", 1000ms));
    s.client().stop();
    ASSERT_TRUE(s.serverBecomes("1280x800", 15000ms));
    EXPECT_EQ(s.macLines(), std::vector<std::string>{});
}

// The desktop takes the client's size before the client is activated, and
// gets its own back when the last client has gone or at SIGTERM: a screen
// grown or shrunk for the client; or an output that is on, switched to a mode
// of the client's size (the client and the monitor see the whole desktop) and
// back. (The virtual monitor of the client's size meanwhile is the X11
// platform test's.)
TEST(LayoutE2E, ClientSizeBeforeTheDesktopAndBackAfterTheLastClient) {
    const struct {
        const char* name;
        bool outputOn;
        const char* clientGeometry;
        std::string size;
        bool sigterm;
    } cases[] = {
        {"smaller, last client gone", false, "1400x900x24", "1024x768", false},
        {"grown, SIGTERM", false, "1920x1080x24", "1920x1080", true},
        {"output on, last client gone", true, "1400x900x24", "1024x768", false},
        {"output on, SIGTERM", true, "1400x900x24", "1024x768", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LayoutSession s(c.clientGeometry);
        ASSERT_EQ(s.start(c.outputOn), "");
        ASSERT_TRUE(s.startClient({"/size:" + c.size}));
        ASSERT_TRUE(s.serverSays("desktop is " + c.size + " before activating the client", 15000ms))
            << s.clientLog();
        EXPECT_EQ(s.serverSize(), c.size);
        EXPECT_EQ(s.outputMode(), c.outputOn ? c.size : "");
        ASSERT_TRUE(s.serverSays("client ready", 10000ms));
        ASSERT_TRUE(setRootColour(s.serverDisplay(), "#33aa55"));
        s.expectShows(0x33aa55, {{1010, 750}});
        if (c.sigterm) {
            s.server().signal(SIGTERM);
            EXPECT_EQ(s.server().waitExit(10000ms), std::optional<int>(0));
        } else {
            s.client().stop();
            ASSERT_TRUE(s.serverBecomes("1280x800", 15000ms));
        }
        EXPECT_EQ(s.serverSize(), "1280x800");
        EXPECT_EQ(s.outputMode(), c.outputOn ? "1280x800" : "");
        EXPECT_EQ(s.onServer({"xrandr"}).find("Corvane"), std::string::npos);
        EXPECT_EQ(s.serverMonitors().find("Corvane"), std::string::npos);
    }
}

// Mirroring onto a monitor (Xvfb's output given an EDID) that lists no mode
// of the client's size, on an X server that keeps no transform (Xvfb): the
// client gets the real screen fitted into its desktop, with black bars, and
// the monitor keeps its mode and shows no Corvane mode, before and after.
TEST(LayoutE2E, AMonitorThatCannotShowTheClientsSizeLeavesTheRealScreenLetterboxed) {
    LayoutSession s("1400x900x24");
    ASSERT_TRUE(s.ok());
    ASSERT_TRUE(plugMonitor(s.serverDisplay()));
    ASSERT_EQ(s.start(true), "");
    ASSERT_TRUE(s.startClient({"/size:1024x768"}));
    ASSERT_TRUE(s.serverSays("falling back to the real screen (one monitor)", 20000ms))
        << s.clientLog();
    EXPECT_EQ(s.serverSize(), "1280x800");
    EXPECT_EQ(s.outputMode(), "1280x800");
    EXPECT_EQ(s.onServer({"xrandr"}).find("Corvane"), std::string::npos);
    EXPECT_EQ(s.logCount("the remote desktop is an extra screen"), 0);
    ASSERT_TRUE(s.serverSays("client ready", 10000ms));
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#33aa55"));
    // 1280 x 800 fitted into 1024 x 768 is 1024 x 640 from row 64: black
    // above and below it.
    s.expectShows(0x33aa55, {{512, 384}, {1010, 90}, {10, 690}});
    s.expectShows(0x000000, {{512, 30}, {512, 740}}, 5000ms);
    s.server().signal(SIGTERM);
    ASSERT_TRUE(s.server().waitExit(10000ms).has_value());
    EXPECT_EQ(s.serverSize(), "1280x800");
    EXPECT_EQ(s.outputMode(), "1280x800");
    EXPECT_EQ(s.onServer({"xrandr"}).find("Corvane"), std::string::npos);
    EXPECT_EQ(s.logCount("could not restart the capture"), 0);
}

TEST(LayoutE2E, DynamicResolutionFollowsTheWindow) {
    LayoutSession s("1600x1000x24");
    ASSERT_EQ(s.start(), "");
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "display-control");
    ASSERT_TRUE(s.startClient({"/dynamic-resolution", "/size:1024x768"}));
    ASSERT_TRUE(s.serverBecomes("1024x768", 15000ms));
    ASSERT_TRUE(s.serverSays("client ready", 10000ms));
    const std::string id = s.clientWindowId();
    ASSERT_FALSE(id.empty());
    // The client puts its window back to the desktop's size until its
    // display-control channel is up (after "client ready"): resize again
    // until the desktop follows.
    EXPECT_TRUE(waitUntil(
        [&] {
            s.onClient({"xdotool", "windowsize", id, "1200", "700"});
            return s.serverBecomes("1200x700", 3000ms);
        },
        20000ms))
        << s.onClient({"xwininfo", "-root", "-tree"}) << s.clientLog();
}

TEST(LayoutE2E, ScreenResizedFromOutsideIsFollowed) {
    LayoutSession s("1400x900x24");
    ASSERT_EQ(s.start(), "");
    ASSERT_TRUE(s.startClient({"/size:1280x800", "/smart-sizing"}));
    ASSERT_TRUE(s.serverSays("client ready", 15000ms));
    // The client's pointer reaching the desktop shows its connection settled:
    // the change of size comes after that.
    ASSERT_TRUE(waitUntil(
        [&] {
            s.onClient({"xdotool", "mousemove", "101", "99", "mousemove", "100", "100"});
            return s.pointerAt("x:100 y:100");
        },
        10000ms, 250ms));
    s.onServer({"xrandr", "--fb", "1024x768"});
    ASSERT_TRUE(
        s.serverSays("changing the desktop to 1024x768 (1 monitor, the real screen)", 10000ms));
    // On the new desktop size the client shrinks its window to 1024 x 768
    // (a pointer outside it then sends nothing) and at a moment of its own:
    // the window is set to 1280 x 800 again until the client scales the
    // 1024 x 768 desktop into it, where its (1200, 750) is the desktop's
    // (960, 720). Before the client has the new size the same move lands at
    // (1023, 750), as it does when the desktop keeps its old size.
    const std::string id = s.clientWindowId();
    ASSERT_FALSE(id.empty());
    EXPECT_TRUE(waitUntil(
        [&] {
            s.onClient({"xdotool", "windowsize", id, "1280", "800", "mousemove", "1190", "740",
                        "mousemove", "1200", "750"});
            return s.pointerAt("x:960 y:720");
        },
        10000ms, 250ms))
        << s.serverPointer() << s.onClient({"xwininfo", "-root", "-tree"});
    // FreeRDP 3.10 warns about its own image at start and again at every new
    // size (3.15 does not): within a minute the repeat is only counted.
    EXPECT_LE(s.logCount("bmpsize=37893"), 1);
}

} // namespace
