// Remote input end to end: xdotool works the real FreeRDP client on one
// Xvfb, the server posts the input on another, and xev (or XFixes) there
// shows what arrived.
#include <csignal>
#include <map>

#include <gtest/gtest.h>

#include "cursor_probe.h"
#include "e2e_harness.h"
#include "xev_log.h"

using namespace e2e;

namespace {

const std::string kServer = CORVANE_SERVER_BIN;
constexpr const char* kGeometry = "1024x768x24";
constexpr unsigned kShiftMask = 0x1, kControlMask = 0x4, kMod4Mask = 0x40;

// One server display with the server and a key/button recorder on it, one
// client display with the FreeRDP client.
class InputSession {
  public:
    InputSession(int firstDisplay, int port)
        : serverX_(firstDisplay, kGeometry), clientX_(firstDisplay + 1, "1280x1024x24"),
          port_(port) {}

    bool displaysUp() const { return serverX_.ok() && clientX_.ok(); }

    bool startRecorder() {
        recorder_.start({"stdbuf", "-oL", "xev", "-geometry", "1024x768+0+0", "-event", "keyboard",
                         "-event", "mouse"},
                        onServer(), dir_.file("xev.log"), dir_.file("xev.err"));
        return waitUntil(
            [&] {
                return xdotool(onServer(), {"search", "--name", "Event Tester"});
            },
            10000ms);
    }

    bool startServer(std::map<std::string, std::string> extraEnv = {},
                     std::vector<std::string> extraArgs = {}) {
        auto env = onServer();
        for (const auto& [name, value] : extraEnv)
            env[name] = value;
        std::vector<std::string> argv{kServer, "/port:" + std::to_string(port_), "-auth",
                                      "/sec:tls"};
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        server_.start(argv, env, dir_.file("server.out"), dir_.file("server.err"));
        return waitUntil([&] { return portOpen(port_); }, 10000ms);
    }

    bool startClient(std::vector<std::string> extraArgs = {}) {
        std::vector<std::string> argv{"xfreerdp3",      "/v:127.0.0.1:" + std::to_string(port_),
                                      "/cert:ignore",   "/sec:tls",
                                      "/u:x",           "/p:x",
                                      "/size:1024x768", "-decorations"};
        argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
        client_.start(argv, onClient(), dir_.file("client.out"), dir_.file("client.err"));
        return waitUntil([&] { return findClientWindow(); }, 20000ms, 200ms);
    }

    // Moves the client's pointer until the server's recorder sees it arrive.
    bool waitForInputPath() {
        int step = 0;
        return waitUntil(
            [&] {
                const int x = 40 + (step++ % 20);
                clientMove(x, 40);
                for (const XevEvent& e : events())
                    if (e.type == "MotionNotify" && e.x == x && e.y == 40)
                        return true;
                return false;
            },
            30000ms, 300ms);
    }

    // Ends the client at once, as a crash would.
    void killClient() {
        client_.signal(SIGKILL);
        client_.waitExit(5000ms);
    }

    bool clientMove(int x, int y) {
        return xdotool(onClient(),
                       {"mousemove", "--window", window_, std::to_string(x), std::to_string(y)});
    }
    bool onClientDo(const std::vector<std::string>& args) { return xdotool(onClient(), args); }
    std::vector<XevEvent> events() { return parseXev(readFile(dir_.file("xev.log"))); }
    const std::string& serverDisplay() const { return serverName_; }
    std::string clientDisplay() const { return clientX_.name(); }
    std::string serverLog() {
        return readFile(dir_.file("server.out")) + readFile(dir_.file("server.err"));
    }

    std::map<std::string, std::string> onServer() {
        serverName_ = serverX_.name();
        auto env = isolatedServerEnv(dir_, serverName_);
        env["CORVANE_PLATFORM"] = "x11";
        env["MAC_SHADOW_AUDIO"] = "0";
        env["MAC_SHADOW_CTRL_AS_CMD"] = "";
        return env;
    }
    std::map<std::string, std::string> onClient() {
        return {
            {"HOME", dir_.path()}, {"XDG_RUNTIME_DIR", dir_.path()}, {"DISPLAY", clientX_.name()}};
    }

  private:
    static bool xdotool(const std::map<std::string, std::string>& env,
                        std::vector<std::string> args, std::string* out = nullptr) {
        args.insert(args.begin(), "xdotool");
        return run(args, env, 5000ms, out) == std::optional<int>(0);
    }

    bool findClientWindow() {
        std::string out;
        if (!xdotool(onClient(), {"search", "--onlyvisible", "--class", "xfreerdp"}, &out) ||
            out.empty())
            return false;
        window_ = out.substr(0, out.find('\n'));
        return true;
    }

    TempDir dir_;
    Xvfb serverX_;
    Xvfb clientX_;
    int port_;
    std::string serverName_;
    std::string window_;
    Process recorder_;
    Process server_;
    Process client_;
};

std::vector<XevEvent> of(const std::vector<XevEvent>& events, const std::string& type) {
    std::vector<XevEvent> out;
    for (const XevEvent& e : events)
        if (e.type == type)
            out.push_back(e);
    return out;
}

const XevEvent* pressOf(const std::vector<XevEvent>& events, const std::string& keysym) {
    for (const XevEvent& e : events)
        if (e.type == "KeyPress" && e.keysym == keysym)
            return &e;
    return nullptr;
}

void connect(InputSession& s, std::map<std::string, std::string> serverEnv = {},
             std::vector<std::string> clientArgs = {}) {
    ASSERT_TRUE(s.displaysUp());
    ASSERT_TRUE(s.startRecorder());
    ASSERT_TRUE(s.startServer(std::move(serverEnv)));
    ASSERT_TRUE(s.startClient(std::move(clientArgs))) << s.serverLog();
    ASSERT_TRUE(s.waitForInputPath()) << s.serverLog();
}

} // namespace

std::vector<std::string> typedWithoutShift(const std::vector<XevEvent>& events) {
    std::vector<std::string> typed;
    for (const std::string& k : pressedKeysyms(events))
        if (k != "Shift_L" && k != "Shift_R")
            typed.push_back(k);
    return typed;
}

// The client sends text as Unicode events: characters of no key on the
// server's layout (the accent, the euro sign) still arrive.
TEST(RemoteKeyboard, TextOutsideTheLayoutArrivesAsCharacters) {
    InputSession s(60, 24601);
    ASSERT_NO_FATAL_FAILURE(connect(s, {}, {"/kbd:unicode:on"}));
    // The client's own keyboard gets keys for both characters, so that
    // xdotool need not borrow a key code on the client side; the server's
    // layout still has neither.
    ASSERT_EQ(run({"xmodmap", "-e", "keycode 94 = eacute EuroSign"}, s.onClient(), 5000ms),
              std::optional<int>(0));
    ASSERT_TRUE(s.onClientDo({"type", "--delay", "120", "Hi \u00e9\u20ac!"}));
    const bool arrived =
        waitUntil([&] { return pressOf(s.events(), "exclam") != nullptr; }, 10000ms);
    EXPECT_TRUE(arrived) << s.serverLog();
    EXPECT_EQ(typedWithoutShift(s.events()),
              (std::vector<std::string>{"H", "i", "space", "eacute", "U20AC", "exclam"}))
        << s.serverLog();
    const XevEvent* capitalH = pressOf(s.events(), "H");
    ASSERT_NE(capitalH, nullptr);
    EXPECT_TRUE(capitalH->state & kShiftMask);
    // Nothing stays held on the server, though the client released "H" as
    // "h" and the euro sign as the accent.
    EXPECT_TRUE(waitUntil(
        [&] { return of(s.events(), "KeyPress").size() == of(s.events(), "KeyRelease").size(); },
        5000ms))
        << [&] {
               std::string all;
               for (const XevEvent& e : s.events())
                   if (e.type == "KeyPress" || e.type == "KeyRelease")
                       all += e.type + ":" + e.keysym + " ";
               return all;
           }();
}

// One session: letters with Shift and a Ctrl shortcut (Command, Super on
// X, by default); clicks at the desktop position, a double click and the
// wheel; then the client is killed while it holds Ctrl and the right button,
// and nothing stays pressed on the server's desktop.
TEST(RemoteInput, KeysClicksWheelAndAKilledClientsHeldKeys) {
    InputSession s(62, 24602);
    ASSERT_NO_FATAL_FAILURE(connect(s));
    // Scan codes: Shift and letters, then the shortcut.
    ASSERT_TRUE(s.onClientDo({"type", "--delay", "40", "Hi x9"}));
    ASSERT_TRUE(s.onClientDo({"key", "ctrl+c"}));
    ASSERT_TRUE(waitUntil([&] { return pressOf(s.events(), "c") != nullptr; }, 10000ms))
        << s.serverLog();
    std::vector<std::string> typed = typedWithoutShift(s.events());
    ASSERT_GE(typed.size(), 5u);
    typed.resize(5);
    EXPECT_EQ(typed, (std::vector<std::string>{"H", "i", "space", "x", "9"}));
    EXPECT_TRUE(pressOf(s.events(), "H")->state & kShiftMask);
    const XevEvent* c = pressOf(s.events(), "c");
    EXPECT_TRUE(c->state & kMod4Mask) << "Command is the Super modifier on X";
    EXPECT_FALSE(c->state & kControlMask);
    EXPECT_NE(pressOf(s.events(), "Super_L"), nullptr);

    ASSERT_TRUE(s.clientMove(300, 200));
    ASSERT_TRUE(s.onClientDo({"click", "1"}));
    ASSERT_TRUE(s.clientMove(611, 433));
    ASSERT_TRUE(s.onClientDo({"click", "--repeat", "2", "--delay", "60", "1"}));
    ASSERT_TRUE(s.onClientDo({"click", "4"}));
    ASSERT_TRUE(s.onClientDo({"click", "5"}));
    auto buttons = [&] { return of(s.events(), "ButtonPress"); };
    ASSERT_TRUE(waitUntil(
        [&] {
            auto b = buttons();
            return !b.empty() && b.back().button == 5;
        },
        10000ms))
        << s.serverLog();
    std::map<int, std::vector<XevEvent>> byButton;
    for (const XevEvent& e : buttons())
        byButton[e.button].push_back(e);
    const auto& left = byButton[1];
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(std::make_pair(left[0].x, left[0].y), std::make_pair(300, 200));
    EXPECT_EQ(std::make_pair(left[1].x, left[1].y), std::make_pair(611, 433));
    EXPECT_EQ(left[2].x, 611);
    EXPECT_LT(left[2].time - left[1].time, 400u) << "inside X's double-click time";
    EXPECT_EQ(of(s.events(), "ButtonRelease").size(), 3u + byButton[4].size() + byButton[5].size());
    // One notch is 120: three lines, each an X wheel click.
    EXPECT_EQ(byButton[4].size(), 3u);
    EXPECT_EQ(byButton[5].size(), 3u);

    auto seen = [&](const std::string& type, const std::string& keysym, int button, size_t n) {
        size_t count = 0;
        for (const XevEvent& e : s.events())
            count += e.type == type && (keysym.empty() || e.keysym == keysym) &&
                     (button == 0 || e.button == button);
        return count >= n;
    };
    ASSERT_TRUE(s.onClientDo({"keydown", "ctrl"}));
    ASSERT_TRUE(s.onClientDo({"mousedown", "3"}));
    ASSERT_TRUE(waitUntil(
        [&] { return seen("KeyPress", "Super_L", 0, 2) && seen("ButtonPress", "", 3, 1); },
        10000ms))
        << s.serverLog();
    s.killClient();
    EXPECT_TRUE(waitUntil(
        [&] { return seen("KeyRelease", "Super_L", 0, 2) && seen("ButtonRelease", "", 3, 1); },
        10000ms))
        << s.serverLog();
    EXPECT_NE(s.serverLog().find("client ended: let go of 1 keys and 1 mouse buttons it held"),
              std::string::npos)
        << s.serverLog();
}

TEST(RemoteCursor, ClientDrawsTheCursorTheServerShows) {
    InputSession s(68, 24605);
    ASSERT_TRUE(s.displaysUp());
    auto serverEnv = s.onServer();
    ASSERT_EQ(run({"xsetroot", "-cursor_name", "left_ptr"}, serverEnv, 5000ms),
              std::optional<int>(0));
    ASSERT_TRUE(s.startServer({}, {"+server-side-cursor"}));
    ASSERT_TRUE(s.startClient()) << s.serverLog();
    auto clientShowsServerCursor = [&] {
        s.clientMove(500, 300);
        const auto shown = shownCursor(s.clientDisplay());
        const auto source = shownCursor(s.serverDisplay());
        return shown && source && drawnFrom(*shown, *source, 3);
    };
    EXPECT_TRUE(waitUntil(clientShowsServerCursor, 20000ms, 200ms)) << s.serverLog();
    const auto first = shownCursor(s.serverDisplay());
    ASSERT_EQ(run({"xsetroot", "-cursor_name", "hand2"}, serverEnv, 5000ms), std::optional<int>(0));
    const auto second = shownCursor(s.serverDisplay());
    ASSERT_TRUE(first && second);
    ASSERT_FALSE(sameCursor(*first, *second, 0)) << "the server's cursor changed";
    EXPECT_TRUE(waitUntil(clientShowsServerCursor, 10000ms, 200ms)) << s.serverLog();
}
