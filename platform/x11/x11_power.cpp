#include "x11_power.h"

#include <unistd.h>

#include <X11/extensions/XTest.h>
#include <X11/extensions/dpms.h>
#include <X11/extensions/scrnsaver.h>

namespace corvane::platform::x11 {

X11Power::~X11Power() {
    std::lock_guard lock(mutex_);
    for (auto& [id, held] : held_)
        if (held.inhibitorFd >= 0)
            close(held.inhibitorFd);
    std::lock_guard xlock(conn_.mutex());
    if (Display* d = conn_.get(); d && suspended_)
        restoreIdleLocked(d);
}

namespace {

bool dpmsAsleep(Display* d) {
    int event = 0, error = 0;
    if (!DPMSQueryExtension(d, &event, &error) || !DPMSCapable(d))
        return false;
    CARD16 state = DPMSModeOn;
    BOOL enabled = False;
    return DPMSInfo(d, &state, &enabled) && enabled && state != DPMSModeOn;
}

bool screenSaverOn(Display* d) {
    int event = 0, error = 0;
    if (!XScreenSaverQueryExtension(d, &event, &error))
        return false;
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    if (!info)
        return false;
    const bool on =
        XScreenSaverQueryInfo(d, DefaultRootWindow(d), info) && info->state == ScreenSaverOn;
    XFree(info);
    return on;
}

} // namespace

// Asleep means the monitor is powered down (DPMS) or the screen saver blanks
// it; either hides the desktop from the person in front of it and from us.
bool X11Power::displayAsleep() {
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    return d && (dpmsAsleep(d) || screenSaverOn(d));
}

void X11Power::nudgePointer() {
    std::lock_guard lock(conn_.mutex());
    if (Display* d = conn_.get()) {
        XTestFakeMotionEvent(d, -1, 1, 1, CurrentTime);
        XFlush(d);
    }
}

void X11Power::suspendIdleLocked(Display* d) {
    XGetScreenSaver(d, &saved_.timeout, &saved_.interval, &saved_.blanking, &saved_.exposures);
    XSetScreenSaver(d, 0, saved_.interval, saved_.blanking, saved_.exposures);
    CARD16 state = 0;
    BOOL enabled = False;
    int event = 0, error = 0;
    saved_.dpmsWasEnabled = DPMSQueryExtension(d, &event, &error) && DPMSCapable(d) &&
                            DPMSInfo(d, &state, &enabled) && enabled;
    if (saved_.dpmsWasEnabled)
        DPMSDisable(d);
    XSync(d, False); // in force before the caller goes on
    suspended_ = true;
}

void X11Power::restoreIdleLocked(Display* d) {
    XSetScreenSaver(d, saved_.timeout, saved_.interval, saved_.blanking, saved_.exposures);
    if (saved_.dpmsWasEnabled)
        DPMSEnable(d);
    XSync(d, False);
    suspended_ = false;
}

int X11Power::displayAssertionsLocked() const {
    int n = 0;
    for (const auto& [id, held] : held_)
        n += held.kind == AssertionKind::PreventDisplaySleep;
    return n;
}

uint32_t X11Power::createAssertion(AssertionKind kind, std::string_view name) {
    std::lock_guard lock(mutex_);
    const bool display = kind == AssertionKind::PreventDisplaySleep;
    const int fd = logindInhibit(display ? "idle" : "sleep", name);
    if (display) {
        std::lock_guard xlock(conn_.mutex());
        Display* d = conn_.get();
        if (!d) {
            if (fd >= 0)
                close(fd);
            return 0;
        }
        if (displayAssertionsLocked() == 0)
            suspendIdleLocked(d);
    } else if (fd < 0) {
        return 0;
    }
    held_[nextId_] = {kind, fd};
    return nextId_++;
}

void X11Power::releaseAssertion(uint32_t id) {
    std::lock_guard lock(mutex_);
    auto it = held_.find(id);
    if (it == held_.end())
        return;
    const bool display = it->second.kind == AssertionKind::PreventDisplaySleep;
    if (it->second.inhibitorFd >= 0)
        close(it->second.inhibitorFd);
    held_.erase(it);
    if (display && displayAssertionsLocked() == 0) {
        std::lock_guard xlock(conn_.mutex());
        if (Display* d = conn_.get(); d && suspended_)
            restoreIdleLocked(d);
    }
}

uint32_t X11Power::declareUserActivity(std::string_view) {
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    if (!d)
        return 0;
    XResetScreenSaver(d);
    int event = 0, error = 0;
    if (DPMSQueryExtension(d, &event, &error) && DPMSCapable(d))
        DPMSForceLevel(d, DPMSModeOn);
    XFlush(d);
    return 0; // nothing is held, so there is nothing to release
}

uint32_t X11Power::declareSystemActivity(std::string_view) {
    // Without logind's help the machine's idle timer is not ours to reset;
    // the system assertion covers suspend while clients are connected.
    return 0;
}

} // namespace corvane::platform::x11
