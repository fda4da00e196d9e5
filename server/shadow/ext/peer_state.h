// Per-connection state of the extension layer, keyed by the FreeRDP peer
// (which outlives the client record's creation and ends after the peer-end
// hook). Every access goes through one mutex; values are copied out.
#pragma once
#include <functional>

#include "peer_hooks.h"

namespace shadow_ext {

struct PeerState {
    rdpShadowServer* server = nullptr;
    psPeerInitialize libraryInitialize = nullptr;
    psPeerDisconnect libraryDisconnect = nullptr;
    rdpShadowExtPeerHooks hooks{};
    INT32 nlaAttempt = 0;
};

// Starts tracking a peer (replacing a stale entry for a reused address).
void trackPeer(freerdp_peer* peer, const PeerState& state);
// Stops tracking; true when the peer was tracked.
bool forgetPeer(freerdp_peer* peer);
// Copies the state out; false when the peer is not tracked.
bool peerState(freerdp_peer* peer, PeerState& out);
// Changes the state under the lock; false when the peer is not tracked.
bool updatePeer(freerdp_peer* peer, const std::function<void(PeerState&)>& change);
size_t trackedPeers();

} // namespace shadow_ext
