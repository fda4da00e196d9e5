// Keeping the desktop awake while it is used remotely, and waking its screen.
#pragma once
#include "mac_shadow.h"

extern "C" {
// Takes or releases each power assertion to match the two wishes.
void mac_shadow_keep_awake(macShadowSubsystem* record, bool display, bool system);
// Wakes a sleeping screen; 1 when it was asleep when called, else 0.
int mac_shadow_wake_display(void);
}

// Looks every 100 ms, at most `tries` times, until the screen is awake.
bool mac_shadow_wait_awake(int tries);
