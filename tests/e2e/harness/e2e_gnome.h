// A private headless GNOME desktop for one end-to-end test: mutter on
// Wayland with a virtual monitor, PipeWire and its PulseAudio service on a
// session bus of its own (scripts/gnome-desktop), in folders of the test's
// own. Readiness is polled within a bound; the desktop ends with the object.
#pragma once
#include <memory>
#include <string>
#include <sys/types.h>

#include "e2e_harness.h"

namespace e2e {

class GnomeDesktop {
  public:
    // Starts the desktop in folders under `dir` with a virtual monitor of
    // `size` ("WxH") and waits until it is ready or the limit passed.
    GnomeDesktop(const TempDir& dir, const std::string& size, Duration limit = 60000ms);
    ~GnomeDesktop();
    GnomeDesktop(const GnomeDesktop&) = delete;
    GnomeDesktop& operator=(const GnomeDesktop&) = delete;

    bool ok() const { return !env_.empty(); }
    // What a program needs to join the desktop: WAYLAND_DISPLAY,
    // XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS, PULSE_SERVER, and the
    // desktop's HOME and settings (no X display).
    Env env() const;
    // The last lines of the desktop's logs (the script, mutter, PipeWire...).
    std::string logTail() const;
    // Ends the desktop: what it started first ends in order.
    void stop();

    // Takes the compositor away at once (SIGKILL, as a crash does); true
    // once it is gone from the bus.
    bool killCompositor(Duration limit = 10000ms);
    // Starts the compositor again on the same bus and runtime folder with a
    // virtual monitor of `size`; true once its interfaces are on the bus.
    bool restartCompositor(const std::string& size, Duration limit = 30000ms);
    // The process id the desktop's program of that name (mutter, pipewire,
    // pipewire-pulse...) runs as, or -1.
    pid_t programPid(const std::string& name) const;

  private:
    bool compositorOnBus() const;

    std::string base_;
    Process process_;
    Process compositor_; // mutter started again by the test
    Env env_;
};

// The NAME=VALUE lines of scripts/gnome-desktop's --env-file.
Env parseEnvLines(const std::string& text);

} // namespace e2e
