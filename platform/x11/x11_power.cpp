#include "x11_power.h"

#include <unistd.h>

#include <X11/extensions/XTest.h>
#include <X11/extensions/dpms.h>
#include <X11/extensions/scrnsaver.h>

namespace corvane::platform::x11 {

namespace {

// Without a system bus every attempt fails at once; asking again at most
// this often keeps a missing bus from costing a connection per loop turn.
constexpr std::chrono::milliseconds kFirstLogindRetry{1000};
constexpr std::chrono::milliseconds kLongestLogindRetry{60000};

bool dpmsOn(Display* d, CARD16* state) {
    int event = 0, error = 0;
    BOOL enabled = False;
    return DPMSQueryExtension(d, &event, &error) && DPMSCapable(d) &&
           DPMSInfo(d, state, &enabled) && enabled;
}

bool dpmsAsleep(Display* d) {
    CARD16 state = DPMSModeOn;
    return dpmsOn(d, &state) && state != DPMSModeOn;
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

// The suspend request came with version 1.1 of the extension.
bool canSuspend(Display* d) {
    int event = 0, error = 0, major = 0, minor = 0;
    return XScreenSaverQueryExtension(d, &event, &error) &&
           XScreenSaverQueryVersion(d, &major, &minor) && (major > 1 || (major == 1 && minor >= 1));
}

} // namespace

X11Power::X11Power(Inhibitor inhibit, Connection::ClockFn clock)
    : inhibit_(std::move(inhibit)), clock_(clock),
      logindRetry_(kFirstLogindRetry, kLongestLogindRetry), conn_(clock) {}

X11Power::~X11Power() {
    std::lock_guard lock(mutex_);
    for (auto& [id, held] : held_)
        if (held.inhibitorFd >= 0)
            close(held.inhibitorFd);
    held_.clear();
    // Closing the connection ends the suspension too; this only says so
    // before the connection goes.
    std::lock_guard xlock(conn_.mutex());
    displayLocked();
}

int X11Power::inhibitLocked(const char* what, std::string_view why) {
    const auto now = clock_();
    if (!logindRetry_.due(now))
        return -1;
    const int fd = inhibit_ ? inhibit_(what, why) : -1;
    if (fd < 0)
        logindRetry_.failed(now);
    else
        logindRetry_.succeeded();
    return fd;
}

int X11Power::displayAssertionsLocked() const {
    int n = 0;
    for (const auto& [id, held] : held_)
        n += held.kind == AssertionKind::PreventDisplaySleep;
    return n;
}

Display* X11Power::displayLocked() {
    Display* d = conn_.get();
    if (!d || suspendedGeneration_ != conn_.generation())
        suspended_ = false; // a suspension ends with the connection that made it
    if (!d)
        return nullptr;
    const bool wanted = displayAssertionsLocked() > 0;
    if (wanted != suspended_ && canSuspend(d)) {
        XScreenSaverSuspend(d, wanted ? True : False);
        XSync(d, False); // in force before the caller goes on
        suspended_ = wanted && !conn_.lost();
        suspendedGeneration_ = conn_.generation();
    }
    return d;
}

// Asleep means the monitor is powered down (DPMS) or the screen saver blanks
// it; either hides the desktop from the person in front of it and from us.
bool X11Power::displayAsleep() {
    std::lock_guard lock(mutex_);
    std::lock_guard xlock(conn_.mutex());
    Display* d = displayLocked();
    return d && (dpmsAsleep(d) || screenSaverOn(d));
}

void X11Power::nudgePointer() {
    std::lock_guard lock(mutex_);
    std::lock_guard xlock(conn_.mutex());
    if (Display* d = displayLocked()) {
        XTestFakeMotionEvent(d, -1, 1, 1, CurrentTime);
        XFlush(d);
    }
}

uint32_t X11Power::createAssertion(AssertionKind kind, std::string_view name) {
    std::lock_guard lock(mutex_);
    const bool display = kind == AssertionKind::PreventDisplaySleep;
    const int fd = inhibitLocked(display ? "idle" : "sleep", name);
    const uint32_t id = nextId_++;
    held_[id] = {kind, fd};
    if (display) {
        std::lock_guard xlock(conn_.mutex());
        displayLocked();
        if (suspended_ || fd >= 0)
            return id;
    } else if (fd >= 0) {
        return id;
    }
    held_.erase(id);
    return 0;
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
    if (display) {
        std::lock_guard xlock(conn_.mutex());
        displayLocked();
    }
}

// Resets the idle timer and switches a powered-down monitor on: a change of
// state like a key press, not of the X server's settings.
uint32_t X11Power::declareUserActivity(std::string_view) {
    std::lock_guard lock(mutex_);
    std::lock_guard xlock(conn_.mutex());
    Display* d = displayLocked();
    if (!d)
        return 0;
    XResetScreenSaver(d);
    CARD16 state = DPMSModeOn;
    if (dpmsOn(d, &state) && state != DPMSModeOn)
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
