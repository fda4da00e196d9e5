#include "cursor_probe.h"

#include <algorithm>
#include <cstdlib>

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace e2e {

std::optional<ShownCursor> shownCursor(const std::string& display) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d)
        return std::nullopt;
    std::optional<ShownCursor> out;
    if (XFixesCursorImage* image = XFixesGetCursorImage(d)) {
        ShownCursor c;
        c.width = image->width;
        c.height = image->height;
        c.xhot = image->xhot;
        c.yhot = image->yhot;
        for (int i = 0; i < image->width * image->height; ++i)
            c.argb.push_back(static_cast<uint32_t>(image->pixels[i]));
        out = c;
        XFree(image);
    }
    XCloseDisplay(d);
    return out;
}

namespace {
int channel(uint32_t argb, int shift) {
    return static_cast<int>((argb >> shift) & 0xFF);
}
// A premultiplied channel at full opacity.
int unpremultiplied(uint32_t argb, int shift) {
    const int a = channel(argb, 24);
    return a ? std::min(255, (channel(argb, shift) * 255 + a / 2) / a) : 0;
}
} // namespace

bool drawnFrom(const ShownCursor& shown, const ShownCursor& source, int tolerance) {
    if (shown.width != source.width || shown.height != source.height || shown.xhot != source.xhot ||
        shown.yhot != source.yhot)
        return false;
    size_t solidInSource = 0, shownVisible = 0;
    for (size_t i = 0; i < source.argb.size(); ++i) {
        const uint32_t s = source.argb[i], c = shown.argb[i];
        if (channel(s, 24) >= 128)
            ++solidInSource;
        if (channel(c, 24) == 0)
            continue;
        if (channel(s, 24) < 128)
            return false;
        for (int shift = 0; shift < 24; shift += 8)
            if (std::abs(unpremultiplied(s, shift) - unpremultiplied(c, shift)) > tolerance)
                return false;
        ++shownVisible;
    }
    return shownVisible > 0 && shownVisible * 4 >= solidInSource;
}

} // namespace e2e
