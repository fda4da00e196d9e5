// Termination: SIGTERM, SIGINT, SIGHUP and the end of the parent process all
// run one handler, one at a time, on a dedicated termination thread. The
// handler gives the desktop back and ends the process with status 0.
#pragma once
#include "mac_shadow.h"

// Installs the signal handlers and the parent watch, once per process.
bool mac_shadow_install_termination(void);
// Queues a termination with the given reason (a static text).
void mac_shadow_queue_terminate(const char* reason);

extern "C" {
// The handler of every termination event; ends the process.
void mac_shadow_on_terminate(const char* reason);
// Gives the desktop back and drops what keeps it awake.
void mac_shadow_teardown(macShadowSubsystem* record, const char* reason);
}

// How the handler ends the process; tests replace it to observe the end.
using MacProcessExit = void (*)(int status);
void mac_shadow_set_process_exit(MacProcessExit exitFn);
// Lets a test run the handler again in the same process.
void mac_shadow_reset_terminating_for_tests(void);
