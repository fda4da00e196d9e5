// Virtual displays that stand in for the real screen when a client's layout
// does not fit it.
#pragma once
#include "mac_shadow.h"

extern "C" {
// Undoes mirroring and removes every virtual display (under displayLock).
void mac_shadow_destroy_virtual(macShadowSubsystem* record);
}
