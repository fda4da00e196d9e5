// The session every gnome end-to-end case starts from: a headless GNOME
// desktop shared by our server through the gnome backend, the real FreeRDP
// client on an Xvfb of its own, and full-screen Wayland windows of the
// test's own (corvane-probe-window) that log what reaches them.
#pragma once
#include <cstdio>

#include <gtest/gtest.h>

#include "e2e_session.h"
#include "x11_probe.h"

namespace e2e {

inline const std::string kProbeWindow = CORVANE_PROBE_WINDOW_BIN;

inline std::string hex(uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "%06X", rgb & 0xFFFFFF);
    return text;
}

class GnomeSession : public Session {
  public:
    explicit GnomeSession(const std::string& desktop = "1024x768",
                          const std::string& client = "1280x900x24")
        : Session(suites::gnome, OnGnome{desktop}, client) {}

    // Planar only, so the client's pixels equal the desktop's; sound off
    // unless `env` switches it on. The server logs every frame it takes, so
    // that a failed picture check shows how far a change came.
    bool startServer(const Env& env = {}, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = planar({"-auth", "/sec:tls"});
        args.insert(args.end(), extra.begin(), extra.end());
        const Env quiet = {{"MAC_SHADOW_AUDIO", "0"},
                           {"WLOG_FILTER", "com.freerdp.server.shadow.mac:DEBUG"}};
        return Session::startServer(args, merged(quiet, env));
    }
    // A 1024x768 client; true once its window shows.
    bool startClient(const std::vector<std::string>& extra = {}, const Env& env = {}) {
        std::vector<std::string> args = {"/sec:tls", "/u:x", "/p:x", "-decorations",
                                         "/size:1024x768"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Session::startClient(args, env) &&
               waitUntil([&] { return findClientWindow(); }, 20000ms, 200ms);
    }
    // A full-screen window of that colour on the desktop, logging to `log`;
    // true once the compositor showed it. Started after the client
    // connected: a Wayland client learns of the remote keyboard only when it
    // exists as it joins.
    // `more` goes to the window: "--cursor SHAPE", "--screen-at X,Y".
    bool showWindow(Process& window, uint32_t rgb, const std::string& log,
                    const std::vector<std::string>& more = {}) {
        const Env env = merged(desktopEnv(), {{"QT_QPA_PLATFORM", "wayland"}});
        std::vector<std::string> argv = {kProbeWindow, "--colour", hex(rgb), "--log",
                                         dir().file(log)};
        argv.insert(argv.end(), more.begin(), more.end());
        lastWindowLog_ = log;
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
    const std::string& clientWindow() const { return window_; }
    // The client shows that colour (within 4 a channel) at x,y within
    // `limit`; a failure says what it shows there, what the last window
    // logged and the server's log.
    testing::AssertionResult shows(uint32_t rgb, int x, int y, Duration limit) {
        if (clientShows(rgb, x, y, limit, 4))
            return testing::AssertionSuccess();
        const auto at = pixelAt(clientDisplay(), x, y);
        return testing::AssertionFailure()
               << "the client shows " << (at ? hex(*at) : std::string("nothing")) << " at " << x
               << "," << y << " instead of " << hex(rgb) << "\n"
               << readFile(dir().file(lastWindowLog_)) << serverLog();
    }

  private:
    bool findClientWindow() {
        window_ = clientWindowId();
        return !window_.empty();
    }
    std::string window_;
    std::string lastWindowLog_;
};

inline void connect(GnomeSession& s, const Env& serverEnv = {},
                    const std::vector<std::string>& clientArgs = {}, const Env& clientEnv = {}) {
    ASSERT_TRUE(s.ok()) << "the headless GNOME desktop or the client's Xvfb did not start";
    ASSERT_TRUE(s.startServer(serverEnv));
    ASSERT_TRUE(s.startClient(clientArgs, clientEnv));
}

} // namespace e2e
