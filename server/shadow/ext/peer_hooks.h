// Peer hooks of the extension layer. The packaged shadow library offers no
// peer-init or peer-end callback and never touches a peer's NLA hash
// callback or, reliably, its Logon callback. This layer wraps the listener's
// PeerAccepted so that for every connection:
//   - the subsystem's PeerInit runs before the library's own accept; a
//     refused connection is closed at once and the library never sees it;
//   - the NLA hash callback and the Logon hook the subsystem hands over in
//     PeerInit are put on the peer (the Logon hook from a wrapped
//     peer->Initialize, after the library has set its own Logon);
//   - the wrapped peer->Initialize then runs the connection's whole login
//     (TLS, NLA, the password check, activation) before returning, so that
//     the library subscribes the connection to publication only once it is
//     activated; the connection guard (peer_guard.h) bounds logins in time
//     and number and closes activated clients that hold the others;
//   - the subsystem's PeerEnd runs once when the connection ends, also for a
//     connection that failed NLA and never got connected.
// It also keeps small per-connection state for the subsystem (the NLA
// attempt mark).
#pragma once
#include <freerdp/peer.h>
#include <freerdp/server/shadow.h>
#include <winpr/sspi.h>

#ifdef __cplusplus
extern "C" {
#endif

// The subsystem's NLA hash request: the arguments of WinPR's NTLM hash
// callback (the first is the peer); answers a security status, SEC_E_OK
// with the 16-byte NTLMv2 key written.
typedef SECURITY_STATUS (*pfnShadowExtNlaHash)(void* peer, const SEC_WINNT_AUTH_IDENTITY* identity,
                                               const SecBuffer* ntProofValue, const BYTE* randKey,
                                               const BYTE* mic, const SecBuffer* micValue,
                                               BYTE* ntlmV2Key);
// Puts the subsystem's Logon hook on a peer whose library Logon is in place.
typedef BOOL (*pfnShadowExtHookLogon)(freerdp_peer* peer);

typedef struct {
    pfnShadowExtNlaHash NlaHash;
    pfnShadowExtHookLogon HookLogon;
} rdpShadowExtPeerHooks;

// Wraps server->listener->PeerAccepted; call between shadow_server_init and
// shadow_server_start. FALSE when the server has no listener.
BOOL shadow_ext_install_peer_hooks(rdpShadowServer* server);

// The library's accept as seen by the wrapper: replaceable by tests that
// drive the wrapper with fake peers. Returns the previous one.
typedef BOOL (*pfnShadowExtPeerAccepted)(freerdp_listener* listener, freerdp_peer* peer);
pfnShadowExtPeerAccepted shadow_ext_set_library_accept(pfnShadowExtPeerAccepted accept);
// The wrapper itself (what the listener calls once the hooks are installed).
BOOL shadow_ext_peer_accepted(freerdp_listener* listener, freerdp_peer* peer);

// Called by the subsystem from PeerInit: the hooks to put on the client's
// peer. FALSE when the peer is not one this layer tracks.
BOOL shadow_ext_peer_set_hooks(rdpShadowClient* client, const rdpShadowExtPeerHooks* hooks);

// The NLA attempt mark of a connection (0 none, 1 hash requested, 2 logged
// on); 0 for a connection this layer does not track.
INT32 shadow_ext_client_nla_attempt(rdpShadowClient* client);
BOOL shadow_ext_client_set_nla_attempt(rdpShadowClient* client, INT32 value);

// Bytes written to the client so far; 0 for a connection not tracked.
UINT64 shadow_ext_client_bytes_sent(rdpShadowClient* client);
// Graphics-pipeline frames sent to the client so far (with the gfx-codec
// hook); 0 for a connection not tracked or without the pipeline.
UINT64 shadow_ext_client_frames_sent(rdpShadowClient* client);
// Ends the client's connection from any thread (its socket is shut down;
// the library's thread then ends the session as for a dropped connection).
// FALSE when the connection is not tracked or was closed already.
BOOL shadow_ext_client_close(rdpShadowClient* client);

// Connections tracked right now (tests check nothing is left behind).
size_t shadow_ext_tracked_peers(void);

#ifdef __cplusplus
}
#endif
