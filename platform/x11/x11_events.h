// Event posting on X11 through the XTest extension. Key codes arrive as
// macOS virtual key codes and are turned back into X key codes through
// WinPR's tables; modifier flags become presses of the matching modifier
// keys; text becomes a keysym that the keyboard map can produce, borrowing
// a spare key code when the current layout lacks the character.
#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "../events.h"
#include "../input_prefs.h"
#include "x11_connection.h"

namespace corvane::platform::x11 {

// Pure helpers of the translation, exposed for tests.
// The X button of a button number (0 left, 1 right, 2 middle, 3.. extra);
// 0 when there is none.
int xButtonFor(int32_t button);
// The X key code (XKB numbering) of a macOS key code; 0 when there is none.
uint32_t xKeycodeFromMac(uint16_t macKeyCode);
// The keysym that types a Unicode code point; 0 when no key types it.
uint32_t keysymForCodePoint(uint32_t codePoint);
// The code point of one or two UTF-16 units; 0 when they are not a
// character or a valid surrogate pair.
uint32_t codePointFromUnits(const char16_t* units, size_t count);
// X wheel buttons for a scroll: button number and number of clicks.
struct WheelClicks {
    int button = 0;
    int clicks = 0;
};
std::vector<WheelClicks> wheelClicksFor(int32_t verticalLines, int32_t horizontalLines);
// How many extra press/release pairs X needs before a button press so that
// its own multi-click detection sees `clickState`: none when the previous
// press of the same button is recent enough for X to count it.
int extraClicksNeeded(int64_t clickState, int64_t msSincePreviousPress, int64_t xIntervalMs);

// Borrowed key codes go back to having no symbols once no text has used
// them for this long (a client reading the last event late still finds the
// character), and at the latest when releaseAll runs.
inline constexpr std::chrono::milliseconds kBorrowedKeyLifetime{2000};
// At most this many key codes without symbols are lent to characters.
inline constexpr size_t kMaxSpareKeycodes = 8;

class X11Events : public EventPoster {
  public:
    explicit X11Events(Connection::ClockFn clock = Backoff::Clock::now);
    ~X11Events() override;
    bool postKey(uint16_t macKeyCode, bool down, uint64_t flags) override;
    bool postUnicode(const char16_t* units, size_t count, bool down) override;
    bool postMouse(MouseEventType type, PointF at, int32_t button, int64_t clickState) override;
    bool postScroll(int32_t verticalLines, int32_t horizontalLines) override;
    void releaseAll() override;
    void settle() override;
    // Events X queued on this connection and nobody read (every keymap
    // change is announced to every client): drained as they come, so none.
    int unreadEvents();

  private:
    // Everything below runs with the connection's mutex held.
    Display* ready();
    void fakeKey(Display* d, uint32_t keycode, bool down);
    void syncModifiers(Display* d, uint64_t flags);
    bool shiftHeld() const;
    uint32_t keycodeForKeysym(Display* d, uint32_t keysym, bool& needsShift);
    uint32_t nextSpare() const;
    uint32_t borrowSpareKeycode(Display* d, uint32_t keysym);
    void returnBorrowed(Display* d, bool all);
    void syncAndDrain(Display* d);
    void fakeButton(Display* d, int button, bool down);

    Connection::ClockFn clock_;
    Connection conn_;
    std::unique_ptr<InputPrefs> prefs_; // X's own multi-click interval
    // State of the connection of this generation; a new connection (the X
    // server restarted) starts from nothing held and nothing borrowed.
    uint64_t generation_ = 0;
    bool hasXTest_ = false;
    std::set<uint32_t> heldKeys_;
    std::set<int> heldButtons_;
    // Modifier keys pressed only to carry an event's flags, per class
    // (shift, control, option, command); 0 = none.
    std::array<uint32_t, 4> synthesized_{};
    std::vector<uint32_t> spareKeycodes_;
    bool sparesScanned_ = false;
    // Spare key codes that carry a borrowed symbol, and when they were last
    // typed with.
    std::map<uint32_t, Backoff::Clock::time_point> borrowed_;
    std::map<int, Backoff::Clock::time_point> lastPress_;
};

} // namespace corvane::platform::x11
