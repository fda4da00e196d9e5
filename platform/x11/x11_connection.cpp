#include "x11_connection.h"

#include <cstdlib>

namespace corvane::platform::x11 {

Display* Connection::get() {
    if (!display_ && !tried_) {
        tried_ = true;
        display_.reset(XOpenDisplay(nullptr));
    }
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
