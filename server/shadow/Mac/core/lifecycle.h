// Steps of the lifecycle callbacks, shared between their files.
#pragma once
#include "mac_shadow.h"

// Parses MAC_SHADOW_NLA into the record and removes it from the environment.
void mac_shadow_nla_configure(macShadowSubsystem* record);
// Reads who may log in with a password (MAC_SHADOW_ALLOWED_USERS,
// MAC_SHADOW_ADMIN_GROUP and the platform's accounts) into the record.
void mac_shadow_allow_configure(macShadowSubsystem* record);
// Init's frame-rate, idle and display steps; false when the main display
// cannot be measured.
void mac_shadow_init_rates(macShadowSubsystem* record);
bool mac_shadow_init_desktop(macShadowSubsystem* record);
// Start's permission report.
void mac_shadow_log_permissions(void);
// Start's input check: sets viewOnly (logged once) when the desktop takes no
// input.
void mac_shadow_check_input_available(macShadowSubsystem* record);
// Logs once which accounts can log in with a password.
void mac_shadow_log_login_accounts(const macShadowSubsystem* record,
                                   const rdpShadowServer* server);
// Asks the subsystem thread to end and waits for it (Stop).
void mac_shadow_end_subsystem_thread(macShadowSubsystem* record);
// True when the subsystem thread was asked to end and did not.
bool mac_shadow_subsystem_thread_running(void);
// Init's four locks, created once per record and deleted when it is freed.
void mac_shadow_create_locks(macShadowSubsystem* record);
// Fills the record's callback slots (what the shadow server and the
// extension layer call).
void mac_shadow_fill_callbacks(macShadowSubsystem* record);
