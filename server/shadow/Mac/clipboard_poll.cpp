#include "clipboard_poll.h"

// The desktop's clipboard is not bridged yet (no pasteboard service and no
// clipboard channel in the extension layer), so there is no change to
// forward; the clipboard component takes this function over.
void mac_shadow_clipboard_poll(macShadowSubsystem* record, uint64_t now, bool newClient) {
    (void)record;
    (void)now;
    (void)newClient;
}
