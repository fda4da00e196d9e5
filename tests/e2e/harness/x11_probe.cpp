#include "x11_probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <cstdlib>

#include "e2e_harness.h"

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

std::optional<size_t> pixelsApart(const std::string& a, const std::string& b, int x, int y, int w,
                                  int h, int tolerance) {
    Connection ca(a);
    Connection cb(b);
    if (!ca.d || !cb.d)
        return std::nullopt;
    XImage* ia = XGetImage(ca.d, DefaultRootWindow(ca.d), x, y, w, h, AllPlanes, ZPixmap);
    XImage* ib = XGetImage(cb.d, DefaultRootWindow(cb.d), x, y, w, h, AllPlanes, ZPixmap);
    std::optional<size_t> apart;
    if (ia && ib) {
        apart = 0;
        for (int row = 0; row < h; ++row)
            for (int col = 0; col < w; ++col) {
                const unsigned long pa = XGetPixel(ia, col, row);
                const unsigned long pb = XGetPixel(ib, col, row);
                for (int shift = 0; shift < 24; shift += 8)
                    if (std::abs(int((pa >> shift) & 0xFF) - int((pb >> shift) & 0xFF)) >
                        tolerance) {
                        ++*apart;
                        break;
                    }
            }
    }
    if (ia)
        XDestroyImage(ia);
    if (ib)
        XDestroyImage(ib);
    return apart;
}

bool setRootColour(const std::string& display, const std::string& colour) {
    return run({"xsetroot", "-solid", colour}, {{"DISPLAY", display}}, 5000ms) ==
           std::optional<int>(0);
}

bool fillRect(const std::string& display, int x, int y, int w, int h, uint32_t rgb) {
    Connection c(display);
    if (!c.d)
        return false;
    const GC gc = DefaultGC(c.d, DefaultScreen(c.d));
    XSetForeground(c.d, gc, rgb);
    XFillRectangle(c.d, DefaultRootWindow(c.d), gc, x, y, static_cast<unsigned>(w),
                   static_cast<unsigned>(h));
    XSync(c.d, False);
    return true;
}

bool plugMonitor(const std::string& display) {
    Connection c(display);
    if (!c.d)
        return false;
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(c.d, DefaultRootWindow(c.d));
    if (!res || res->noutput < 1) {
        if (res)
            XRRFreeScreenResources(res);
        return false;
    }
    const RROutput output = res->outputs[0];
    XRRFreeScreenResources(res);
    // A header and nothing else: what is read of it is only that it is there.
    unsigned char edid[128] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    const Atom name = XInternAtom(c.d, "EDID", False);
    XRRChangeOutputProperty(c.d, output, name, XA_INTEGER, 8, PropModeReplace, edid, sizeof edid);
    int count = 0;
    Atom* props = XRRListOutputProperties(c.d, output, &count);
    bool there = false;
    for (int i = 0; props && i < count; ++i)
        there |= props[i] == name;
    if (props)
        XFree(props);
    return there;
}

} // namespace e2e
