#include <cmath>

#include "x11_platform.h"

namespace corvane::platform::x11 {

bool X11Displays::mainDisplay(MainDisplayInfo& out) {
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    if (!d)
        return false;
    // The root window's geometry is asked for each time: Xlib's cached
    // screen size does not follow a RandR resize on this connection.
    Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (!XGetGeometry(d, DefaultRootWindow(d), &root, &x, &y, &w, &h, &border, &depth))
        return false;
    const double scale = configuredScale();
    out.pixelWidth = static_cast<int32_t>(w);
    out.pixelHeight = static_cast<int32_t>(h);
    out.pointsWidth = static_cast<int32_t>(std::lround(out.pixelWidth / scale));
    out.pointsHeight = static_cast<int32_t>(std::lround(out.pixelHeight / scale));
    return true;
}

} // namespace corvane::platform::x11
