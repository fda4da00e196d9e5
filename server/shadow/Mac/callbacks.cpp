// The callback slots the record offers the shadow server.
#include "input.h"
#include "layout_request.h"
#include "logins.h"
#include "terminate.h"

void mac_shadow_fill_callbacks(macShadowSubsystem* record) {
    mac_shadow_input_fill_callbacks(record);
    record->common.base.Authenticate = mac_shadow_authenticate;
    record->common.PeerInit = mac_shadow_peer_init;
    record->common.PeerEnd = mac_shadow_peer_end;
    record->common.base.ClientConnect = mac_shadow_client_connect;
    record->common.DisplayLayout = mac_shadow_display_layout;
    // The clipboard slots stay empty until their component exists; the
    // shadow library skips an empty slot.
}
