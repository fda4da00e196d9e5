// Following a main display that changed size from outside.
#pragma once
#include "mac_shadow.h"

// Asks the platform to report outside changes of the main display.
void mac_shadow_watch_main_display(void);
// What the platform's report does (tests call it directly).
void mac_shadow_note_main_display_changed(void);
// On the subsystem thread, before plans are taken: measures the main display
// again after a reported change and, while the real screen is shared, hands
// over a plan of the new size. True when a change was handled.
bool mac_shadow_main_display_check(macShadowSubsystem* record);
