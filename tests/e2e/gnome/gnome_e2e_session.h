// The session every gnome end-to-end case starts from: a headless GNOME
// desktop shared by our server through the gnome backend, the real FreeRDP
// client on an Xvfb of its own, and full-screen Wayland windows of the
// test's own (corvane-probe-window) that log what reaches them.
#pragma once
#include <cstdio>

#include <gtest/gtest.h>

#include "e2e_session.h"

namespace e2e {

inline const std::string kProbeWindow = CORVANE_PROBE_WINDOW_BIN;

inline bool xdotool(const Env& env, std::vector<std::string> args, std::string* out = nullptr) {
    args.insert(args.begin(), "xdotool");
    return run(args, env, 5000ms, out) == std::optional<int>(0);
}

inline std::string hex(uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "%06X", rgb & 0xFFFFFF);
    return text;
}

class GnomeSession : public Session {
  public:
    GnomeSession() : Session(suites::gnome, OnGnome{"1024x768"}, "1280x900x24") {}

    // Planar only, so the client's pixels equal the desktop's; sound off
    // unless `env` switches it on.
    bool startServer(const Env& env = {}, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"-auth", "/sec:tls"};
        args.insert(args.end(), kPlanarOnly.begin(), kPlanarOnly.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return Session::startServer(args, merged({{"MAC_SHADOW_AUDIO", "0"}}, env));
    }
    // True once the client's window shows.
    bool startClient(const std::vector<std::string>& extra = {}, const Env& env = {}) {
        std::vector<std::string> args = {"/sec:tls", "/u:x", "/p:x", "/size:1024x768",
                                         "-decorations"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Session::startClient(args, env) &&
               waitUntil([&] { return findClientWindow(); }, 20000ms, 200ms);
    }
    // A full-screen window of that colour on the desktop, logging to `log`;
    // true once the compositor showed it. Started after the client
    // connected: a Wayland client learns of the remote keyboard only when it
    // exists as it joins.
    bool showWindow(Process& window, uint32_t rgb, const std::string& log,
                    const std::string& cursor = "arrow") {
        const Env env = merged(desktopEnv(), {{"QT_QPA_PLATFORM", "wayland"}});
        return window.start({kProbeWindow, "--colour", hex(rgb), "--log", dir().file(log),
                             "--cursor", cursor},
                            env, dir().file(log + ".out"), dir().file(log + ".err")) &&
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
    bool windowLogs(const std::string& log, const std::string& text, Duration limit = 10000ms) {
        return waitUntil([&] { return fileContains(dir().file(log), text); }, limit);
    }
    const std::string& clientWindow() const { return window_; }

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

inline void connect(GnomeSession& s, const Env& serverEnv = {},
                    const std::vector<std::string>& clientArgs = {}, const Env& clientEnv = {}) {
    ASSERT_TRUE(s.ok()) << "the headless GNOME desktop or the client's Xvfb did not start";
    ASSERT_TRUE(s.startServer(serverEnv));
    ASSERT_TRUE(s.startClient(clientArgs, clientEnv));
}

} // namespace e2e
