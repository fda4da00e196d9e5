// Peer init: the per-address connection limit, then the NLA hooks.
#include <atomic>

#include "server/shadow/ext/peer_hooks.h"
#include "base/clock.h"
#include "base/log.h"
#include "logins.h"

namespace {

// When the last rate-limit warning was written; 0 = never. Process-wide and
// written without a lock: a lost update only costs one line more or less.
std::atomic<uint64_t> gLastRateWarning{0};

bool rateWarningDue(uint64_t now) {
    const uint64_t last = gLastRateWarning.load(std::memory_order_relaxed);
    if (last != 0 && now >= last && now - last < mac_login::kRateWarnEveryMs)
        return false;
    gLastRateWarning.store(now ? now : 1, std::memory_order_relaxed);
    return true;
}

} // namespace

namespace mac_login {

void resetRateWarning() {
    gLastRateWarning.store(0);
}

BOOL admit(macShadowSubsystem* record, const char* address) {
    if (connectionAllowed(record, address))
        return TRUE;
    if (rateWarningDue(mac_now_ms()))
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_peer_init",
                   "too many connections from %s (more than %d a minute): refusing for now",
                   address, MAC_CONN_PER_WINDOW);
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
