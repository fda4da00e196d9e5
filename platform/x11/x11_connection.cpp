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

namespace {
// A restarting display server takes a moment; after that, one attempt every
// few seconds costs nothing worth saving.
constexpr std::chrono::milliseconds kFirstRetry{250};
constexpr std::chrono::milliseconds kLongestRetry{4000};
} // namespace

Connection::Connection(ClockFn clock)
    : clock_(std::move(clock)), retry_(kFirstRetry, kLongestRetry) {}

Display* Connection::get() {
    if (display_ && lost_.load()) {
        // Xlib keeps a dead connection's memory until it is closed; closing
        // sends nothing, as the connection is marked broken.
        display_.reset();
        retry_.failed(clock_());
    }
    if (display_)
        return display_.get();
    const auto now = clock_();
    if (!retry_.due(now))
        return nullptr;
    installQuietErrorHandlers();
    display_.reset(XOpenDisplay(nullptr));
    if (!display_) {
        retry_.failed(now);
        return nullptr;
    }
    lost_.store(false);
    XSetIOErrorExitHandler(display_.get(), markLost, &lost_);
    retry_.succeeded();
    ++generation_;
    return display_.get();
}

double configuredScale() {
    const char* value = std::getenv("CORVANE_X11_SCALE");
    if (!value || !*value)
        return 1.0;
    double scale = std::strtod(value, nullptr);
    return scale >= 1.0 && scale <= 4.0 ? scale : 1.0;
}

} // namespace corvane::platform::x11
