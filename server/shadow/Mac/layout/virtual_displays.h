// Virtual displays that stand in for the real screen when a client's layout
// does not fit it: creation, arrangement and mirroring, the report of where
// they came up, and their removal. Runs on the subsystem thread under
// displayLock (teardown takes the same lock).
#pragma once
#include <vector>

#include "mac_shadow.h"

extern "C" {
// Undoes mirroring and removes every virtual display (under displayLock).
void mac_shadow_destroy_virtual(macShadowSubsystem* record);
}

// Old virtual displays kept while the host still mirrors them, removed once
// the new ones stand.
struct KeptDisplays {
    std::vector<uint32_t> ids;
    std::vector<uint32_t> mirrored; // the host displays that mirrored them
};

// Clears the previous layout before new virtual displays are made: removes
// it, or keeps it (returned) while the host mirrors it.
KeptDisplays mac_shadow_clear_for_plan(macShadowSubsystem* record, const DesktopPlan& plan);
// Creates one virtual display per monitor (2x where asked, falling back to
// 1x), arranges and mirrors them, and fills `mappings` with where they came
// up. Hidpi flags of monitors that fell back to 1x are cleared in `plan`.
// The kept displays wait beside the new ones where the display space has
// room, else they are removed first. False when a display could not be made
// or is not there for the capture to find: everything is then removed.
bool mac_shadow_build_virtual(macShadowSubsystem* record, DesktopPlan& plan,
                              const KeptDisplays& kept, DisplayMapping* mappings);
// When a virtual display of the desktop is no longer there for the capture
// (the display server lost it), hands over a plan for the real screen at the
// desktop's size, so that the capture does not keep looking for it. True
// when it did. Runs on the subsystem thread, outside displayLock.
bool mac_shadow_fall_back_if_gone(macShadowSubsystem* record);
