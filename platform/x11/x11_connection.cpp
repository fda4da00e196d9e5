#include "x11_connection.h"

#include <cstdio>
#include <cstdlib>

namespace corvane::platform::x11 {

namespace {

int ignoreProtocolError(Display*, XErrorEvent*) {
    // The request that failed reports it to its caller (null reply, status 0).
    return 0;
}

int reportLostConnection(Display* display) {
    std::fprintf(stderr, "platform: X connection to %s broken\n", DisplayString(display));
    return 0;
}

void markLost(Display*, void* flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true);
}

} // namespace

void installQuietErrorHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        XSetErrorHandler(ignoreProtocolError);
        XSetIOErrorHandler(reportLostConnection);
    });
}

Display* Connection::get() {
    if (lost_.load())
        return nullptr;
    if (!display_ && !tried_) {
        tried_ = true;
        installQuietErrorHandlers();
        display_.reset(XOpenDisplay(nullptr));
        if (display_)
            XSetIOErrorExitHandler(display_.get(), markLost, &lost_);
    }
    return lost_.load() ? nullptr : display_.get();
}

double configuredScale() {
    const char* value = std::getenv("CORVANE_X11_SCALE");
    if (!value || !*value)
        return 1.0;
    double scale = std::strtod(value, nullptr);
    return scale >= 1.0 && scale <= 4.0 ? scale : 1.0;
}

} // namespace corvane::platform::x11
