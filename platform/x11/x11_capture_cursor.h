// Follows the cursor for compositing: its image through XFixes cursor
// notifications, its position through XInput 2 raw motion events, so that an
// idle pointer costs nothing.
#pragma once
#include <X11/Xlib.h>

#include "../linux/frame_pool.h"

namespace corvane::platform::x11 {

using linuxos::CursorPicture;

class CursorTracker {
  public:
    // Selects the events on the root window; false when XFixes is missing
    // (frames then carry no cursor).
    bool open(Display* display, const Rect& region);
    // True when the event concerned the cursor (it is then marked changed).
    bool handle(const XEvent& event);
    bool changed() const { return imageChanged_ || moved_; }
    // Reads what changed; the picture is empty when no cursor is known.
    void refresh();
    const CursorPicture& picture() const { return picture_; }

  private:
    void readImage();
    void readPosition();

    Display* display_ = nullptr;
    Rect region_;
    int fixesEventBase_ = 0;
    int inputOpcode_ = -1;
    bool imageChanged_ = true;
    bool moved_ = false;
    int32_t hotX_ = 0;
    int32_t hotY_ = 0;
    CursorPicture picture_;
};

} // namespace corvane::platform::x11
