// The clipboard: the callbacks the extension layer's clipboard channel calls
// on client threads (thin wrappers over the capture bridge), and the watch
// that tells the clients of changes on the desktop.
#pragma once
#include <cstdint>

#include "mac_shadow.h"

extern "C" {
BOOL mac_shadow_clipboard_get_text(rdpShadowSubsystem* subsystem, char** text);
BOOL mac_shadow_clipboard_set_text(rdpShadowSubsystem* subsystem, const char* text);
UINT32 mac_shadow_clipboard_available(rdpShadowSubsystem* subsystem);
BOOL mac_shadow_clipboard_get_image(rdpShadowSubsystem* subsystem, BYTE** pixels, UINT32* width,
                                    UINT32* height);
BOOL mac_shadow_clipboard_set_image(rdpShadowSubsystem* subsystem, const BYTE* pixels, UINT32 width,
                                    UINT32 height);
}

// Fills the clipboard slots of the record.
void mac_shadow_clipboard_fill_callbacks(macShadowSubsystem* record);

// One loop turn of the clipboard watch.
void mac_shadow_clipboard_poll(macShadowSubsystem* record, uint64_t now, bool newClient);
