// The callback slots the record offers the shadow server.
#include "input.h"
#include "logins.h"
#include "terminate.h"

void mac_shadow_fill_callbacks(macShadowSubsystem* record) {
    // Slots of components that do not exist yet stay empty; the shadow
    // library skips an empty slot.
    mac_shadow_input_fill_callbacks(record);
    record->common.base.Authenticate = mac_shadow_authenticate;
    record->common.PeerInit = mac_shadow_peer_init;
    record->common.PeerEnd = mac_shadow_peer_end;
    (void)record;
}
