#include "peer_state.h"

#include <mutex>
#include <unordered_map>

namespace shadow_ext {

namespace {
std::mutex gMutex;
std::unordered_map<freerdp_peer*, PeerState>& table() {
    static auto* peers =
        new std::unordered_map<freerdp_peer*, PeerState>(); // lives with the process
    return *peers;
}
} // namespace

void trackPeer(freerdp_peer* peer, const PeerState& state) {
    std::lock_guard lock(gMutex);
    table()[peer] = state;
}

bool forgetPeer(freerdp_peer* peer) {
    std::lock_guard lock(gMutex);
    return table().erase(peer) > 0;
}

bool peerState(freerdp_peer* peer, PeerState& out) {
    std::lock_guard lock(gMutex);
    const auto it = table().find(peer);
    if (it == table().end())
        return false;
    out = it->second;
    return true;
}

std::shared_ptr<PeerWatch> peerWatch(freerdp_peer* peer) {
    std::lock_guard lock(gMutex);
    const auto it = table().find(peer);
    return it == table().end() ? nullptr : it->second.watch;
}

bool updatePeer(freerdp_peer* peer, const std::function<void(PeerState&)>& change) {
    std::lock_guard lock(gMutex);
    const auto it = table().find(peer);
    if (it == table().end())
        return false;
    change(it->second);
    return true;
}

void forEachPeer(const std::function<void(freerdp_peer*, PeerState&)>& visit) {
    std::lock_guard lock(gMutex);
    for (auto& [peer, state] : table())
        visit(peer, state);
}

size_t trackedPeers() {
    std::lock_guard lock(gMutex);
    return table().size();
}

} // namespace shadow_ext

extern "C" size_t shadow_ext_tracked_peers(void) {
    return shadow_ext::trackedPeers();
}

extern "C" INT32 shadow_ext_client_nla_attempt(rdpShadowClient* client) {
    shadow_ext::PeerState state;
    if (!client || !client->context.peer || !shadow_ext::peerState(client->context.peer, state))
        return 0;
    return state.nlaAttempt;
}

extern "C" BOOL shadow_ext_client_set_nla_attempt(rdpShadowClient* client, INT32 value) {
    if (!client || !client->context.peer)
        return FALSE;
    return shadow_ext::updatePeer(client->context.peer,
                                  [value](shadow_ext::PeerState& s) { s.nlaAttempt = value; })
               ? TRUE
               : FALSE;
}
