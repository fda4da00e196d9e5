// Error handling of capture connections. Xlib's default handlers end the
// process on a protocol error or a lost connection; a capture stream must
// instead report that it stopped.
#include <cstdio>
#include <mutex>

#include "x11_capture.h"

namespace corvane::platform::x11 {

namespace {

int ignoreProtocolError(Display*, XErrorEvent*) {
    // The failed request reports its own failure (a null reply, a zero
    // status) to the code that made it.
    return 0;
}

// Returning lets the display's exit handler decide: capture connections
// mark themselves lost, every other connection keeps Xlib's exit.
int reportIoError(Display* display) {
    std::fprintf(stderr, "platform: X connection to %s broken\n", DisplayString(display));
    return 0;
}

void connectionLost(Display*, void* flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true);
}

} // namespace

OwnedDisplay openCaptureDisplay() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        XSetErrorHandler(ignoreProtocolError);
        XSetIOErrorHandler(reportIoError);
    });
    OwnedDisplay owned;
    owned.display.reset(XOpenDisplay(nullptr));
    if (owned.display)
        XSetIOErrorExitHandler(owned.display.get(), connectionLost, owned.lost.get());
    return owned;
}

} // namespace corvane::platform::x11
