// The callback slots the record offers the shadow server.
#include "clipboard.h"
#include "input.h"
#include "layout_request.h"
#include "logins.h"
#include "terminate.h"

void mac_shadow_fill_callbacks(macShadowSubsystem* record) {
    mac_shadow_input_fill_callbacks(record);
    record->common.base.Authenticate = mac_shadow_authenticate;
    record->common.PeerInit = mac_shadow_peer_init;
    record->common.PeerEnd = mac_shadow_peer_end;
    mac_shadow_clipboard_fill_callbacks(record);
    record->common.base.ClientConnect = mac_shadow_client_connect;
    record->common.DisplayLayout = mac_shadow_display_layout;
}
