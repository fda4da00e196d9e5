// The permission probe: a server run that only reports the two permissions.
#pragma once
#include <cstddef>

// The probe's one answer line for the given permission states.
int mac_shadow_probe_line(char* out, size_t outSize, int screen, int input);
// Runs the probe when MAC_SHADOW_PERMS is set and not empty: prints the
// answer and ends the process with status 0. Returns when it is not a probe.
void mac_shadow_probe_if_requested(void);
