#include "virtual_displays.h"

// No virtual display is created yet: layouts are served by the real screen
// alone. Removing them therefore only has to forget the bookkeeping, so the
// teardown leaves a consistent record whatever state it finds.
extern "C" void mac_shadow_destroy_virtual(macShadowSubsystem* record) {
    if (!record)
        return;
    record->mirroredCount = 0;
    record->virtualCount = 0;
    record->virtualActive = false;
}
