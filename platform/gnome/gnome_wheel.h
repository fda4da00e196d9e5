// Pointer buttons and the wheel as mutter's remote-desktop session takes
// them: evdev button codes (NotifyPointerButton) and discrete wheel steps per
// axis (NotifyPointerAxisDiscrete). Pure translations, no D-Bus.
#pragma once
#include <cstdint>
#include <vector>

namespace corvane::platform::gnome {

inline constexpr uint32_t kGnomeAxisVertical = 0;
inline constexpr uint32_t kGnomeAxisHorizontal = 1;

struct GnomeWheelStep {
    uint32_t axis = kGnomeAxisVertical;
    // mutter's direction: positive scrolls down (vertical) or right
    // (horizontal), as a wheel turned towards the user does.
    int32_t steps = 0;
    bool operator==(const GnomeWheelStep&) const = default;
};

// The steps for EventPoster::postScroll's lines (positive vertical = up,
// positive horizontal = left): vertical first, an axis without lines left out.
std::vector<GnomeWheelStep> gnomeWheelSteps(int32_t verticalLines, int32_t horizontalLines);

// The evdev code of a button as EventPoster::postMouse numbers it (0 left,
// 1 right, 2 middle, then back, forward and the further side buttons), or 0
// for a number Linux has no button for.
int32_t gnomeEvdevButton(int32_t button);

} // namespace corvane::platform::gnome
