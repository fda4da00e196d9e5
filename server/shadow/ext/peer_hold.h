// Holding a logged-in client before it gets the desktop, without holding
// anyone else.
//
// The library subscribes a connection to publication right after
// peer->Initialize returns, and the login-handshake hook keeps the
// connection inside Initialize until the library has activated it (see
// peer_guard.h). A held client's activation is deferred: the library's
// Activate callback is wrapped, and while the client is held the wrapper
// only notes that the client asked. So a held client is never subscribed
// (publication cannot wait for it), is never activated (the library sends
// it no frame, pointer or sound), and the subsystem keeps its input and
// clipboard off. When it is released, its handshake loop (on its own
// thread) runs the library's Activate it deferred and the connection goes
// on as any other, after the subsystem's ClientReleased slot (shadow_ext.h)
// has done what waited for the host's answer. A refused client is closed
// (shadow_ext_client_close) and never reaches that slot.
#pragma once
#include <freerdp/peer.h>
#include <freerdp/server/shadow.h>

#ifdef __cplusplus
extern "C" {
#endif

// Holds the client (from ClientConnect, before its activation). FALSE when
// it cannot be held: the login-handshake hook is off, the connection is not
// tracked, or it is activated already.
BOOL shadow_ext_client_hold(rdpShadowClient* client);
// Lets a held client go on to its activation (any thread). FALSE when it
// was not held.
BOOL shadow_ext_client_release(rdpShadowClient* client);

#ifdef __cplusplus
}

namespace shadow_ext {
// Puts the Activate wrapper on a peer whose library Activate is in place.
void wrapActivate(freerdp_peer* peer);
// On the handshake loop's thread: runs a deferred activation of a released
// client. False when the library's Activate failed.
bool activateIfReleased(freerdp_peer* peer);
} // namespace shadow_ext
#endif
