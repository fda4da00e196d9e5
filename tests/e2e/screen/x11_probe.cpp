#include "x11_probe.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace e2e {

namespace {
struct Connection {
    explicit Connection(const std::string& name) : d(XOpenDisplay(name.c_str())) {}
    ~Connection() {
        if (d)
            XCloseDisplay(d);
    }
    Display* d;
};
} // namespace

std::optional<uint32_t> pixelAt(const std::string& display, int x, int y) {
    Connection c(display);
    if (!c.d)
        return std::nullopt;
    XImage* img = XGetImage(c.d, DefaultRootWindow(c.d), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img)
        return std::nullopt;
    const uint32_t value = static_cast<uint32_t>(XGetPixel(img, 0, 0)) & 0xFFFFFF;
    XDestroyImage(img);
    return value;
}

std::optional<uint64_t> areaChecksum(const std::string& display, int x, int y, int w, int h) {
    Connection c(display);
    if (!c.d)
        return std::nullopt;
    XImage* img = XGetImage(c.d, DefaultRootWindow(c.d), x, y, w, h, AllPlanes, ZPixmap);
    if (!img)
        return std::nullopt;
    uint64_t sum = 1469598103934665603ull;
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
            sum = (sum ^ XGetPixel(img, col, row)) * 1099511628211ull;
    XDestroyImage(img);
    return sum;
}

} // namespace e2e
