// X11 pieces the benchmark's helpers share: finding the client's window on a
// display without a window manager, reading one pixel, and naming its colour.
#pragma once
#include "bench_palette.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

// Windows may vanish between listing and asking; such errors are expected.
inline int ignoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

// The largest viewable child of the root window (the client's, as there is no
// window manager), or 0; its size goes to width and height when asked for.
inline Window largestWindow(Display* display, Window root, int* width = nullptr,
                            int* height = nullptr) {
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count))
        return 0;
    Window best = 0;
    long bestArea = 0;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(display, children[i], &a) || a.map_state != IsViewable)
            continue;
        const long area = long(a.width) * a.height;
        if (area > bestArea) {
            bestArea = area;
            best = children[i];
            if (width && height) {
                *width = a.width;
                *height = a.height;
            }
        }
    }
    if (children)
        XFree(children);
    return best;
}

// The pixel at (x, y) of `window` as 0xRRGGBB; -1 when the read failed.
inline long readPixel(Display* display, Window window, int x, int y) {
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return -1;
    const long value = long(XGetPixel(image, 0, 0) & 0xffffff);
    XDestroyImage(image);
    return value;
}

// The palette index within tolerance of `rgb` (per channel), or -1.
inline int classify(long rgb, const std::vector<uint32_t>& palette, int tol) {
    if (rgb < 0)
        return -1;
    int best = -1, bestDistance = 1 << 30;
    for (size_t i = 0; i < palette.size(); ++i) {
        int worst = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const int a = int((rgb >> shift) & 0xff), b = int((palette[i] >> shift) & 0xff);
            worst = std::max(worst, std::abs(a - b));
        }
        if (worst <= tol && worst < bestDistance) {
            bestDistance = worst;
            best = int(i);
        }
    }
    return best;
}
