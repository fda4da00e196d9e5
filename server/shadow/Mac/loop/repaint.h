// Full repaints on a schedule, the client acknowledgement watch and the
// capture watchdog.
#pragma once
#include <cstdint>

#include "mac_shadow.h"

void mac_shadow_repaint_on_connect(macShadowSubsystem* record, uint64_t now);
void mac_shadow_repaint_burst(macShadowSubsystem* record, uint64_t now, uint32_t firstDelayMs);
// The first repaint that applies this turn (with at least one active client).
void mac_shadow_scheduled_repaints(macShadowSubsystem* record, uint64_t now);
void mac_shadow_ack_check(macShadowSubsystem* record, uint64_t now);
// Frames sent and not yet acknowledged by the activated client furthest
// behind (0 without clients).
uint32_t mac_shadow_largest_inflight(macShadowSubsystem* record);
// Restarts a capture that stopped, while remote input is recent.
void mac_shadow_capture_watchdog(macShadowSubsystem* record, uint64_t now);

extern "C" void mac_shadow_risk_event(macShadowSubsystem* record, const char* reason, uint64_t now);
