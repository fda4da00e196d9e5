// The callback slots the record offers the shadow server.
#include "input.h"
#include "input_held.h"
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
    // Client connect, display layout and the clipboard slots stay empty until
    // their components exist; the shadow library skips an empty slot.
}
