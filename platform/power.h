// Keeping the desktop awake and waking its screen.
#pragma once
#include <cstdint>
#include <string_view>

namespace corvane::platform {

enum class AssertionKind {
    PreventDisplaySleep, // the screen stays on and unlocked
    PreventSystemSleep,  // the machine does not suspend
};

class Power {
  public:
    virtual ~Power() = default;
    // Whether the main screen (or any screen) is asleep.
    virtual bool displayAsleep() = 0;
    // The pointer nudge that wakes a screen that ignored an activity
    // declaration: a pointer move to (1, 1).
    virtual void nudgePointer() = 0;
    // Returns an assertion id, 0 when it could not be created.
    virtual uint32_t createAssertion(AssertionKind kind, std::string_view name) = 0;
    virtual void releaseAssertion(uint32_t id) = 0;
    // Activity declarations reset idle timers and wake the screen; each
    // returns an id to release (0 when none was made).
    virtual uint32_t declareUserActivity(std::string_view name) = 0;
    virtual uint32_t declareSystemActivity(std::string_view name) = 0;
};

} // namespace corvane::platform
