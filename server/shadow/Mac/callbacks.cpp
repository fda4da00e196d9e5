// The callback slots the record offers the shadow server.
#include "clipboard.h"
#include "input.h"
#include "input_held.h"
#include "layout_request.h"
#include "logins.h"
#include "terminate.h"

namespace {
// Every end of a connection: what it holds pressed goes up, then the login
// bookkeeping of a failed NLA attempt.
void peerEnd(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    mac_shadow_input_client_ended(subsystem, client);
    mac_shadow_peer_end(subsystem, client);
}
} // namespace

void mac_shadow_fill_callbacks(macShadowSubsystem* record) {
    mac_shadow_input_fill_callbacks(record);
    record->common.base.Authenticate = mac_shadow_authenticate;
    record->common.PeerInit = mac_shadow_peer_init;
    record->common.PeerEnd = peerEnd;
    mac_shadow_clipboard_fill_callbacks(record);
    record->common.base.ClientConnect = mac_shadow_client_connect;
    record->common.DisplayLayout = mac_shadow_display_layout;
}
