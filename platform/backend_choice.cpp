#include "backend_choice.h"

namespace corvane::platform {

namespace {

std::string shown(const std::string& value) {
    return value.empty() ? "unset" : "'" + value + "'";
}

std::string sessionSeen(const BackendInputs& in) {
    return "XDG_SESSION_TYPE " + shown(in.sessionType) + ", WAYLAND_DISPLAY " +
           shown(in.waylandDisplay);
}

} // namespace

bool waylandSession(const BackendInputs& in) {
    return in.sessionType == "wayland" || !in.waylandDisplay.empty();
}

BackendChoice chooseBackend(const BackendInputs& in) {
    if (!in.wanted.empty())
        return {in.wanted, "CORVANE_PLATFORM names it"};
    const bool gnomeSession = waylandSession(in) && in.screenCastOnBus;
    if (gnomeSession && in.gnomeBuilt)
        return {"gnome", "a Wayland session (" + sessionSeen(in) +
                             ") with org.gnome.Mutter.ScreenCast on the session bus"};
    if (!in.x11Display.empty()) {
        if (gnomeSession)
            return {"x11", "a GNOME Wayland session, but this build has no gnome backend: "
                           "sharing the X display " +
                               in.x11Display + " (only its X programs show)"};
        return {"x11", "DISPLAY is " + in.x11Display};
    }
    if (gnomeSession)
        return {"", "a GNOME Wayland session, but this build has no gnome backend and DISPLAY "
                    "is not set"};
    return {"", "no desktop to share: CORVANE_PLATFORM is not set, no GNOME Wayland session (" +
                    sessionSeen(in) + ", org.gnome.Mutter.ScreenCast on the session bus: " +
                    (in.screenCastOnBus ? "yes" : "no") + ") and DISPLAY is not set"};
}

} // namespace corvane::platform
