// The subsystem thread: everything the subsystem does on a timer.
#pragma once
#include <cstdint>

#include "mac_shadow.h"

// What one client scan found.
struct ClientScan {
    int32_t connected = 0;
    int32_t active = 0;
    bool newClient = false;
    bool listEmpty = true;
    uint32_t pointerSizeClass = 96;
};

extern "C" {
DWORD WINAPI mac_shadow_subsystem_thread(LPVOID arg);
// Handles one incoming message; false for the quit message.
bool mac_shadow_subsystem_process_message(macShadowSubsystem* record, wMessage* message);
}

// One loop turn after the message wait (plan hand-over to statistics file).
void mac_shadow_loop_turn(macShadowSubsystem* record, uint64_t now);
// Steps of a turn, exposed for tests.
ClientScan mac_shadow_scan_clients(macShadowSubsystem* record);
void mac_shadow_idle_and_awake(macShadowSubsystem* record, const ClientScan& scan, uint64_t now);
void mac_shadow_last_client_check(macShadowSubsystem* record, const ClientScan& scan, uint64_t now);
void mac_shadow_adaptive_handover(macShadowSubsystem* record, int32_t activeClients);
// Restarts the capture: stop, note the stopped count, start. True when it runs.
bool mac_shadow_restart_capture(macShadowSubsystem* record);
// Takes a waiting plan when it is due (under the locks) and applies it.
void mac_shadow_plan_handover(macShadowSubsystem* record, uint64_t now);
