// The input callbacks the shadow server calls for clients that may
// interact: keys, text and the mouse become host input events.
#pragma once
#include "mac_shadow.h"

extern "C" {
BOOL mac_shadow_input_synchronize_event(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                                        UINT32 flags);
BOOL mac_shadow_input_keyboard_event(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                                     UINT16 flags, UINT8 code);
BOOL mac_shadow_input_unicode_keyboard_event(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                                             UINT16 flags, UINT16 code);
BOOL mac_shadow_input_mouse_event(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                                  UINT16 flags, UINT16 x, UINT16 y);
BOOL mac_shadow_input_extended_mouse_event(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                                           UINT16 flags, UINT16 x, UINT16 y);
}

// Forgets the process-wide input state (the Ctrl-as-Cmd answer, a pending
// surrogate, the trace counters) so that tests start afresh.
void mac_shadow_input_reset_process_state();
// Drops a pending high surrogate of Unicode input (its client ended).
void mac_shadow_input_forget_pending_text();
// Fills the input slots of the record.
void mac_shadow_input_fill_callbacks(macShadowSubsystem* record);
