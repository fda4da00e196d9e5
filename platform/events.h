// Posting keyboard and mouse events into the desktop. Callers speak the
// desktop host's own vocabulary: macOS virtual key codes, event types,
// modifier flags and click states, positions in points of the global display
// space. Each backend translates them into what its display system needs.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::platform {

// Modifier flags carried by a key event (the host's event flag values).
inline constexpr uint64_t kFlagShift = 0x20000;
inline constexpr uint64_t kFlagControl = 0x40000;
inline constexpr uint64_t kFlagOption = 0x80000;
inline constexpr uint64_t kFlagCommand = 0x100000;

enum class MouseEventType {
    Moved,
    LeftDown,
    LeftUp,
    RightDown,
    RightUp,
    OtherDown,
    OtherUp,
    LeftDragged,
    RightDragged,
    OtherDragged,
};

struct PointF {
    double x = 0;
    double y = 0;
    bool operator==(const PointF&) const = default;
};

class EventPoster {
  public:
    virtual ~EventPoster() = default;
    // A key identified by its macOS virtual key code, with the modifier
    // flags the receiver should see. False when the event could not be
    // posted.
    virtual bool postKey(uint16_t macKeyCode, bool down, uint64_t flags) = 0;
    // A key event that carries text instead of a key (one or two UTF-16
    // units: a character or a surrogate pair).
    virtual bool postUnicode(const char16_t* units, size_t count, bool down) = 0;
    // A pointer event at a point. button: 0 left, 1 right, 2 middle.
    // clickState: 1 single, 2 double, ... (0 for moves).
    virtual bool postMouse(MouseEventType type, PointF at, int32_t button, int64_t clickState) = 0;
    // Scrolling in lines; positive vertical scrolls up, positive horizontal
    // scrolls left.
    virtual bool postScroll(int32_t verticalLines, int32_t horizontalLines) = 0;
    // Lets go of every key and button still pressed through this poster and
    // undoes temporary changes made for posting (such as borrowed key
    // codes): the desktop is left as if no input had been posted.
    virtual void releaseAll() = 0;
    // Called regularly: gives back temporary changes no longer needed.
    virtual void settle() {}
    // False when this desktop takes no input from us at all (a session that
    // only shows the picture); the server then serves every client view-only.
    virtual bool inputAvailable() const { return true; }
};

} // namespace corvane::platform
