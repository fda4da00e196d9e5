#include <cmath>

#include "x11_platform.h"

namespace corvane::platform::x11 {

bool X11Displays::mainDisplay(MainDisplayInfo& out) {
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    if (!d)
        return false;
    const int screen = DefaultScreen(d);
    const double scale = configuredScale();
    out.pixelWidth = DisplayWidth(d, screen);
    out.pixelHeight = DisplayHeight(d, screen);
    out.pointsWidth = static_cast<int32_t>(std::lround(out.pixelWidth / scale));
    out.pointsHeight = static_cast<int32_t>(std::lround(out.pixelHeight / scale));
    return true;
}

} // namespace corvane::platform::x11
