#include "peer_hold.h"

#include <atomic>

#include "hook_gate.h"
#include "peer_guard.h"
#include "peer_state.h"
#include "shadow_ext.h"

namespace {

// The library's Activate is the same function for every peer.
std::atomic<psPeerActivate> gLibraryActivate{nullptr};

// The library's Activate; before the first one of a client that was held,
// the subsystem's step for a client let in (once: a resize reactivates).
BOOL libraryActivate(freerdp_peer* peer, shadow_ext::PeerWatch* watch) {
    auto* client = reinterpret_cast<rdpShadowClient*>(peer->context);
    if (watch && client && watch->everHeld.load() && !watch->releaseStepDone.exchange(true)) {
        auto* subsystem = client->server
                              ? reinterpret_cast<rdpShadowSubsystemExt*>(client->server->subsystem)
                              : nullptr;
        if (subsystem && subsystem->ClientReleased)
            subsystem->ClientReleased(&subsystem->base, client);
    }
    const psPeerActivate activate = gLibraryActivate.load();
    return activate ? activate(peer) : FALSE;
}

// Runs on the connection's thread when the client has finished its part of
// the connection sequence.
BOOL heldActivate(freerdp_peer* peer) {
    const std::shared_ptr<shadow_ext::PeerWatch> watch = shadow_ext::peerWatch(peer);
    if (watch && watch->held.load()) {
        // The handshake loop's turn after the release activates it (also
        // when the release comes between these two lines).
        watch->activationDeferred.store(true);
        return TRUE;
    }
    return libraryActivate(peer, watch.get());
}

} // namespace

namespace shadow_ext {

void wrapActivate(freerdp_peer* peer) {
    if (!peer || !peer->Activate || peer->Activate == heldActivate)
        return;
    gLibraryActivate.store(peer->Activate);
    peer->Activate = heldActivate;
}

bool activateIfReleased(freerdp_peer* peer) {
    const std::shared_ptr<PeerWatch> watch = peerWatch(peer);
    if (!watch || watch->held.load() || !watch->activationDeferred.exchange(false))
        return true;
    return libraryActivate(peer, watch.get());
}

} // namespace shadow_ext

extern "C" BOOL shadow_ext_client_hold(rdpShadowClient* client) {
    if (!client || !shadow_ext_hook_on(SHADOW_EXT_LOGIN_HANDSHAKE))
        return FALSE;
    const auto watch = shadow_ext::peerWatch(client->context.peer);
    if (!watch || watch->activated.load() || client->activated)
        return FALSE;
    watch->everHeld.store(true);
    watch->held.store(true);
    return TRUE;
}

extern "C" BOOL shadow_ext_client_release(rdpShadowClient* client) {
    const auto watch = client ? shadow_ext::peerWatch(client->context.peer) : nullptr;
    if (!watch || !watch->held.exchange(false))
        return FALSE;
    watch->releasedAt.store(shadow_ext_now_ms());
    SetEvent(watch->wake);
    return TRUE;
}
