#include "x11_capture_cursor.h"

#include <X11/extensions/XInput2.h>
#include <X11/extensions/Xfixes.h>

namespace corvane::platform::x11 {

namespace {

// Raw motion reaches us whatever window the pointer is over; without
// XInput 2 the position follows cursor image changes only.
int selectRawMotion(Display* display) {
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error))
        return -1;
    int major = 2, minor = 0;
    if (XIQueryVersion(display, &major, &minor) != Success)
        return -1;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    return opcode;
}

} // namespace

bool CursorTracker::open(Display* display, const Rect& region) {
    display_ = display;
    region_ = region;
    int errorBase = 0;
    if (!XFixesQueryExtension(display, &fixesEventBase_, &errorBase))
        return false;
    XFixesSelectCursorInput(display, DefaultRootWindow(display), XFixesDisplayCursorNotifyMask);
    inputOpcode_ = selectRawMotion(display);
    return true;
}

bool CursorTracker::handle(const XEvent& event) {
    if (event.type == fixesEventBase_ + XFixesCursorNotify) {
        imageChanged_ = true;
        return true;
    }
    if (event.type == GenericEvent && event.xcookie.extension == inputOpcode_) {
        moved_ = true;
        return true;
    }
    return false;
}

void CursorTracker::refresh() {
    if (imageChanged_)
        readImage(); // also reads the position
    else if (moved_)
        readPosition();
    imageChanged_ = false;
    moved_ = false;
}

void CursorTracker::readImage() {
    XFixesCursorImage* image = XFixesGetCursorImage(display_);
    if (!image) {
        picture_ = {};
        return;
    }
    picture_.width = image->width;
    picture_.height = image->height;
    picture_.argb.resize(size_t(image->width) * image->height);
    // XFixes hands out 32-bit ARGB values in longs.
    for (size_t i = 0; i < picture_.argb.size(); ++i)
        picture_.argb[i] = static_cast<uint32_t>(image->pixels[i]);
    hotX_ = image->xhot;
    hotY_ = image->yhot;
    picture_.x = image->x - hotX_ - region_.x;
    picture_.y = image->y - hotY_ - region_.y;
    XFree(image);
}

void CursorTracker::readPosition() {
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned int buttons = 0;
    if (!XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rootX, &rootY, &winX,
                       &winY, &buttons))
        return;
    picture_.x = rootX - hotX_ - region_.x;
    picture_.y = rootY - hotY_ - region_.y;
}

} // namespace corvane::platform::x11
