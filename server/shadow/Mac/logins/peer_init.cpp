// Peer init: the per-address connection limit, then the NLA hooks.
#include "server/shadow/ext/peer_admission.h"
#include "server/shadow/ext/peer_hooks.h"
#include "base/clock.h"
#include "base/log.h"
#include "logins.h"

namespace {

// One line per address a minute, with the count held back since: a second
// address over its limit gets its own line.
shadow_ext::LinePerAddress& rateLines() {
    static shadow_ext::LinePerAddress lines;
    return lines;
}

} // namespace

namespace mac_login {

void resetRateWarning() {
    rateLines().clear();
}

BOOL admit(macShadowSubsystem* record, const char* address) {
    if (connectionAllowed(record, address))
        return TRUE;
    uint64_t heldBack = 0;
    if (rateLines().due(address, mac_now_ms(), &heldBack))
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_peer_init",
                   "too many connections from %s (more than %d a minute): refusing for now "
                   "(%llu more refused from it since the last line)",
                   address, MAC_CONN_PER_WINDOW, static_cast<unsigned long long>(heldBack));
    return FALSE;
}

} // namespace mac_login

extern "C" BOOL mac_shadow_peer_init(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    if (!client || !client->context.peer)
        return TRUE;
    shadow_ext_client_set_nla_attempt(client, 0);
    if (subsystem) {
        char address[64];
        mac_login::clientAddress(client, address, sizeof address);
        if (!mac_login::admit(reinterpret_cast<macShadowSubsystem*>(subsystem), address))
            return FALSE;
    }
    const rdpShadowExtPeerHooks hooks{mac_shadow_nla_hash, mac_shadow_peer_hook_logon};
    shadow_ext_peer_set_hooks(client, &hooks);
    return TRUE;
}
