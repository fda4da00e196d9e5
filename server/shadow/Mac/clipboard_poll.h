// Forwarding clipboard changes of the desktop to the clients.
#pragma once
#include <cstdint>

#include "mac_shadow.h"

// One loop turn of the clipboard watch.
void mac_shadow_clipboard_poll(macShadowSubsystem* record, uint64_t now, bool newClient);
