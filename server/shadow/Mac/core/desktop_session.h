// The platform's desktop session, as the subsystem uses it: opened when the
// first client needs the desktop (its connect step, before any capture
// stream starts), closed after the last client left, and followed when the
// compositor ends it from outside (its clients' sessions end; the next
// client opens a new one). Capture runs only while it is open.
#pragma once
#include "loop/thread.h"
#include "mac_shadow.h"

// A client needs the desktop: opens the session unless it is open, waiting
// at most kSessionOpenLimitMs. False (logged) when it could not be opened:
// the client is refused.
bool mac_shadow_session_need(macShadowSubsystem* record);
// The loop turn's session step (subsystem thread): acts on an end from
// outside, closes the session once no client is left, and starts the
// capture of a freshly opened session.
void mac_shadow_session_step(macShadowSubsystem* record, const ClientScan& scan);
// Stops the capture and closes the session (teardown; idempotent).
void mac_shadow_session_close(macShadowSubsystem* record, const char* why);

inline constexpr uint64_t kSessionOpenLimitMs = 10000;
