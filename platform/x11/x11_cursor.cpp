// The cursor through XFixes.
#include <memory>

#include <X11/extensions/Xfixes.h>

#include "x11_cursor.h"

namespace corvane::platform::x11 {

namespace {

struct CursorImageFree {
    void operator()(XFixesCursorImage* image) const {
        if (image)
            XFree(image);
    }
};
using CursorImagePtr = std::unique_ptr<XFixesCursorImage, CursorImageFree>;

int32_t seedFromSerial(unsigned long serial) {
    return static_cast<int32_t>(serial & 0x7fffffff);
}

} // namespace

// Selects cursor-change events on the root window and reads the serial of
// the cursor now on screen.
bool X11Cursor::watch(Display* d) {
    int errorBase = 0;
    if (!XFixesQueryExtension(d, &eventBase_, &errorBase))
        return false;
    XFixesSelectCursorInput(d, DefaultRootWindow(d), XFixesDisplayCursorNotifyMask);
    CursorImagePtr image(XFixesGetCursorImage(d));
    if (!image)
        return false;
    serial_ = image->cursor_serial;
    return true;
}

int32_t X11Cursor::seed() {
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    if (!d)
        return -1;
    if (watchedGeneration_ != conn_.generation()) {
        // A new connection (the X server restarted) needs a new watch.
        unavailable_ = !watch(d);
        watchedGeneration_ = conn_.generation();
    }
    if (unavailable_)
        return -1;
    while (XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
        if (event.type == eventBase_ + XFixesCursorNotify)
            serial_ = reinterpret_cast<XFixesCursorNotifyEvent*>(&event)->cursor_serial;
    }
    return seedFromSerial(serial_);
}

bool X11Cursor::current(CursorImage& out) {
    std::lock_guard lock(imageMutex_);
    // A connection of its own per picture: the picture is needed only when
    // the cursor changed, and a long-lived connection has been seen to stop
    // answering this request inside the server.
    installQuietErrorHandlers();
    DisplayPtr display(XOpenDisplay(nullptr));
    Display* d = display.get();
    std::atomic<bool> lost{false};
    if (d)
        XSetIOErrorExitHandler(
            d, [](Display*, void* flag) { static_cast<std::atomic<bool>*>(flag)->store(true); },
            &lost);
    int eventBase = 0, errorBase = 0;
    if (!d || !XFixesQueryExtension(d, &eventBase, &errorBase) || lost.load())
        return false;
    CursorImagePtr image(XFixesGetCursorImage(d));
    if (!image || image->width == 0 || image->height == 0)
        return false;
    CursorRepresentation rep;
    rep.pixelWidth = image->width;
    rep.pixelHeight = image->height;
    const size_t count = static_cast<size_t>(image->width) * image->height;
    rep.bgra.resize(count * 4);
    for (size_t i = 0; i < count; ++i) {
        // Premultiplied ARGB, one pixel per unsigned long.
        const auto argb = static_cast<uint32_t>(image->pixels[i]);
        rep.bgra[i * 4 + 0] = static_cast<uint8_t>(argb);
        rep.bgra[i * 4 + 1] = static_cast<uint8_t>(argb >> 8);
        rep.bgra[i * 4 + 2] = static_cast<uint8_t>(argb >> 16);
        rep.bgra[i * 4 + 3] = static_cast<uint8_t>(argb >> 24);
    }
    const double scale = configuredScale(); // pixels per point
    out.pointsWidth = image->width / scale;
    out.pointsHeight = image->height / scale;
    out.hotX = image->xhot / scale;
    out.hotY = image->yhot / scale;
    out.representations.clear();
    out.representations.push_back(std::move(rep));
    return true;
}

} // namespace corvane::platform::x11
