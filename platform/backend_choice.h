// Which backend serves this process, decided from what the process sees:
// pure, so that a table covers every case; the factory gathers the inputs
// and acts on the answer.
#pragma once
#include <string>

namespace corvane::platform {

struct BackendInputs {
    std::string wanted;           // CORVANE_PLATFORM; empty when unset
    std::string sessionType;      // XDG_SESSION_TYPE
    std::string waylandDisplay;   // WAYLAND_DISPLAY
    std::string x11Display;       // DISPLAY
    bool screenCastOnBus = false; // org.gnome.Mutter.ScreenCast has an owner
    bool gnomeBuilt = false;      // this build has the gnome backend
};

struct BackendChoice {
    std::string name; // empty: nothing to share (see why)
    std::string why;  // for the log line, or the error
};

// True when the session is Wayland: the only case where the session bus is
// worth asking.
bool waylandSession(const BackendInputs& in);
BackendChoice chooseBackend(const BackendInputs& in);

// Whether org.gnome.Mutter.ScreenCast has an owner on the session bus (false
// when there is no session bus or it does not answer within a second).
bool mutterScreenCastOnSessionBus();

} // namespace corvane::platform
