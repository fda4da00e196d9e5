// One end-to-end session: a slot of the suite's displays and port, a private
// Xvfb (or a headless GNOME desktop) for the server and an Xvfb for the
// client, our server with an isolated
// environment, and the real FreeRDP client on 127.0.0.1. Readiness is polled
// within bounds. Everything it started ends with it, and the server's log is
// printed when the test failed meanwhile.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "e2e_gnome.h"
#include "e2e_harness.h"
#include "e2e_suites.h"
#include "x11_probe.h"

namespace e2e {

// Our server executable.
extern const std::string kServerBin;

// Codec flags that leave planar only: the client's picture then equals the
// server's pixel for pixel.
inline const std::vector<std::string> kPlanarOnly = {"-gfx-progressive", "-gfx-rfx", "-gfx-avc420",
                                                     "-gfx-avc444"};
// The server's arguments `args` with those flags.
inline std::vector<std::string> planar(std::vector<std::string> args) {
    args.insert(args.end(), kPlanarOnly.begin(), kPlanarOnly.end());
    return args;
}

// xfreerdp3 +auth-only exit status of an accepted NLA login: 131 with
// FreeRDP 3.10 (Debian 12), 0 with 3.15 (Debian 13), where the client's
// status was mended; -1 when the client's version cannot be read.
int nlaAcceptedStatus();
// The NT hash of the password as WinPR's own hash tool prints it (for
// MAC_SHADOW_NLA); empty on failure.
std::string winprHash(const std::string& user, const std::string& password);

// The server's desktop as a headless GNOME compositor with a virtual monitor
// of this size ("WxH") instead of an Xvfb.
struct OnGnome {
    std::string size = "1280x800";
};

class Session {
  public:
    // No X server for the server or the client when its geometry is empty.
    Session(const Suite& suite, const std::string& serverGeometry,
            const std::string& clientGeometry = "");
    // The server shares a private headless GNOME desktop through the gnome
    // backend (CORVANE_PLATFORM=gnome); the client has its own Xvfb.
    Session(const Suite& suite, const OnGnome& desktop, const std::string& clientGeometry);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The slot and the X servers are up.
    bool ok() const;
    int port() const { return slot_.port(); }
    std::string serverDisplay() const;
    std::string clientDisplay() const { return clientX_ ? clientX_->name() : serverDisplay(); }
    Xvfb& serverX() { return *serverX_; }
    // The GNOME desktop's environment for programs of the test's own (its
    // Wayland display, session bus and sound server); empty without one.
    Env desktopEnv() const { return gnome_ ? gnome_->env() : Env{}; }
    // The headless GNOME desktop; only for a session made with OnGnome.
    GnomeDesktop& gnome() { return *gnome_; }
    const TempDir& dir() const { return dir_; }
    Process& server() { return server_; }
    Process& client() { return client_; }

    // Starts our server with /port and the arguments, in the isolated
    // environment plus `env`; true once its port answers (a server that
    // ended is not waited for).
    bool startServer(const std::vector<std::string>& args, const Env& env = {});
    // The client's command line and environment (the client display, the
    // session's HOME), for clients the test runs itself.
    std::vector<std::string> clientCommand(const std::vector<std::string>& args) const;
    Env clientEnv() const;
    // The id of the FreeRDP client's visible window on the client display;
    // empty while there is none.
    std::string clientWindowId() const;
    // Starts the session's client with the arguments, environment plus `env`.
    bool startClient(const std::vector<std::string>& args, const Env& env = {});

    std::string serverLog() const { return readFile(dir_.file("server.log")); }
    std::string clientLog() const { return readFile(dir_.file("client.log")); }
    // How often the server's log holds the text.
    int logCount(const std::string& text) const;
    bool serverSays(const std::string& text, Duration limit = 15000ms) const;
    // The client display shows the colour at (x, y), each channel within
    // `tolerance`.
    bool clientShows(uint32_t rgb, int x, int y, Duration limit, int tolerance = 0);
    // The server's log line saying that the extension hook is off for want
    // of verification on the loaded FreeRDP (itself, or a hook it needs);
    // "" when the hook runs or was switched off on purpose. Waits for the
    // line naming the hooks that are on.
    std::string hookUnverified(const std::string& hook) const;

  private:
    Slot slot_;
    TempDir dir_;
    std::unique_ptr<Xvfb> serverX_, clientX_;
    std::unique_ptr<GnomeDesktop> gnome_;
    Process server_, client_;
    int failuresBefore_;
};

} // namespace e2e

// A hook's contract test skips, with the server's reason, where the hook was
// not verified; switched off on purpose, the hook makes its test fail.
#define E2E_SKIP_IF_HOOK_UNVERIFIED(session, hook)                                                 \
    if (const std::string why = (session).hookUnverified(hook); !why.empty())                      \
    GTEST_SKIP() << why
