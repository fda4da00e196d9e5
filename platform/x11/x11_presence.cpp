#include "x11_presence.h"

#include <X11/extensions/scrnsaver.h>

#include "../linux/logind_session.h"

namespace corvane::platform::x11 {

PresenceReading X11Presence::readScreenSaver() {
    PresenceReading r;
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    int event = 0, error = 0;
    if (!d || !XScreenSaverQueryExtension(d, &event, &error))
        return r;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (!info)
        return r;
    if (XScreenSaverQueryInfo(d, DefaultRootWindow(d), info)) {
        r.idleKnown = true;
        r.idleMs = info->idle;
        r.lockedKnown = true;
        r.locked = info->state == ScreenSaverOn;
    }
    XFree(info);
    return r;
}

PresenceReading X11Presence::read() {
    PresenceReading logind;
    linuxos::logindSessionHints(logind);
    return linuxos::mergePresence(readScreenSaver(), logind);
}

bool X11Presence::lockSession(std::string& how) {
    if (linuxos::logindLockSession(how))
        return true;
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    if (!d) {
        how += "; no X display either";
        return false;
    }
    XActivateScreenSaver(d);
    XFlush(d);
    how = "the X screen saver (" + how + ")";
    return true;
}

} // namespace corvane::platform::x11
