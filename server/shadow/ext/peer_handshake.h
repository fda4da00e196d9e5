// The handshake of one connection, driven from the wrapped peer->Initialize
// on the connection's own thread, before the shadow library subscribes the
// connection to publication (see peer_guard.h for why).
#pragma once
#include <cstdint>

#include <freerdp/server/shadow.h>

namespace shadow_ext {

enum class HandshakeEnd {
    Activated, // logged in: the library's own loop takes over
    Failed,    // the library refused or lost the connection, or it was closed
    TimedOut,  // not activated by the deadline
    Stopping,  // the server asked its connections to quit
};

// Runs the connection's part of the library's client loop (the transport
// and the client's message queue) until the client is activated or the
// connection is over. `deadline` is in the
// extension layer's clock (ms). A quit message stays in the queue for the
// library's loop.
HandshakeEnd driveHandshake(freerdp_peer* peer, rdpShadowClient* client, uint64_t deadline);

// The settings the library's client thread sets right after Initialize:
// they must be in place before the capabilities are exchanged, which now
// happens inside Initialize.
bool setLibraryInputFeatures(rdpSettings* settings);

} // namespace shadow_ext
