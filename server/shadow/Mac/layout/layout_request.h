// Client layout requests (connect size and display-control layouts).
#pragma once
#include "mac_shadow.h"

extern "C" {
// The subsystem's display-layout slot: TRUE when the layout was taken (also
// when it equals the last one), FALSE when it was refused.
BOOL mac_shadow_display_layout(rdpShadowSubsystem* subsystem, rdpShadowClient* client, UINT32 count,
                               const DISPLAY_CONTROL_MONITOR_LAYOUT* monitors);
// The connect step of a client: its session, then its size.
BOOL mac_shadow_client_connect(rdpShadowSubsystem* subsystem, rdpShadowClient* client);
// Its first half: the desktop session it needs (FALSE when there is none)
// and the server-wide view-only mode; nothing of the desktop changes.
BOOL mac_shadow_client_connect_session(rdpShadowSubsystem* subsystem, rdpShadowClient* client);
// Its second half: the client's size becomes the desktop's, unless another
// client is active; waits (at most 8 s) for it to be applied. For a client
// the host is asked about, only once the host has let it in.
void mac_shadow_client_connect_size(rdpShadowSubsystem* subsystem, rdpShadowClient* client);
}

// Hands a plan to the subsystem thread (under subsystemLock), replacing any
// plan still waiting; requestTick 0 asks for it at once.
void mac_shadow_hand_over_plan(macShadowSubsystem* record, const DesktopPlan& plan,
                               uint64_t requestTick);
