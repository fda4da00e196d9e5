#include "gnome_wheel.h"

#include <linux/input-event-codes.h>

#include <limits>

namespace corvane::platform::gnome {

namespace {

// The caller's sign is the opposite of mutter's on both axes (up and left
// are positive for the caller, negative for mutter). INT32_MIN has no
// opposite, so it is held at the largest step count there is.
int32_t flipped(int32_t lines) {
    if (lines == std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::max();
    return -lines;
}

} // namespace

std::vector<GnomeWheelStep> gnomeWheelSteps(int32_t verticalLines, int32_t horizontalLines) {
    std::vector<GnomeWheelStep> steps;
    if (verticalLines != 0)
        steps.push_back({kGnomeAxisVertical, flipped(verticalLines)});
    if (horizontalLines != 0)
        steps.push_back({kGnomeAxisHorizontal, flipped(horizontalLines)});
    return steps;
}

int32_t gnomeEvdevButton(int32_t button) {
    // The order the X11 backend gives buttons 8, 9, ...: back, forward, then
    // the rest of the mouse buttons evdev has.
    static constexpr int32_t kButtons[] = {BTN_LEFT,  BTN_RIGHT,   BTN_MIDDLE, BTN_SIDE,
                                           BTN_EXTRA, BTN_FORWARD, BTN_BACK,   BTN_TASK};
    if (button < 0 || button >= static_cast<int32_t>(std::size(kButtons)))
        return 0;
    return kButtons[button];
}

} // namespace corvane::platform::gnome
