// A private headless GNOME desktop for one end-to-end test: mutter on
// Wayland with a virtual monitor, PipeWire and its PulseAudio service on a
// session bus of its own (scripts/gnome-desktop), in folders of the test's
// own. Readiness is polled within a bound; the desktop ends with the object.
#pragma once
#include <memory>
#include <string>

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

  private:
    std::string base_;
    Process process_;
    Env env_;
};

// The NAME=VALUE lines of scripts/gnome-desktop's --env-file.
Env parseEnvLines(const std::string& text);

} // namespace e2e
