// The listener wrapper and the per-peer wrappers of Initialize, Disconnect
// and the NLA hash callback.
#include <atomic>
#include <memory>

#include <freerdp/settings.h>

#include "hook_gate.h"
#include "peer_admission.h"
#include "peer_guard.h"
#include "peer_handshake.h"
#include "peer_hold.h"
#include "peer_hooks.h"
#include "peer_state.h"
#include "shadow_ext.h"
#include "sound_formats.h"

namespace {

std::atomic<pfnShadowExtPeerAccepted> gLibraryAccept{nullptr};
// The library's peer functions are the same for every peer; the last ones
// seen stand in should a peer's own entry be gone (a second Disconnect).
std::atomic<psPeerInitialize> gSeenInitialize{nullptr};
std::atomic<psPeerDisconnect> gSeenDisconnect{nullptr};
std::atomic<psPeerPostConnect> gLibraryPostConnect{nullptr};

rdpShadowSubsystemExt* subsystemOf(const rdpShadowServer* server) {
    return server ? reinterpret_cast<rdpShadowSubsystemExt*>(server->subsystem) : nullptr;
}

// WinPR's NTLM server treats the callback's answer as "key written" when it
// is non-zero, so the subsystem's security status is turned around here.
SECURITY_STATUS nlaHashBridge(void* peer, const SEC_WINNT_AUTH_IDENTITY* identity,
                              const SecBuffer* ntProofValue, const BYTE* randKey, const BYTE* mic,
                              const SecBuffer* micValue, BYTE* ntlmV2Key) {
    shadow_ext::PeerState state;
    if (!peer || !shadow_ext::peerState(static_cast<freerdp_peer*>(peer), state) ||
        !state.hooks.NlaHash)
        return 0;
    const SECURITY_STATUS status =
        state.hooks.NlaHash(peer, identity, ntProofValue, randKey, mic, micValue, ntlmV2Key);
    return status == SEC_E_OK ? 1 : 0;
}

// The subsystem's password check, and whether this peer's thread has just
// run it ahead of the library's PostConnect.
std::atomic<pfnShadowAuthenticate> gSubsystemAuthenticate{nullptr};
thread_local bool tPasswordChecked = false;

// The library's PostConnect asks the subsystem for the password: after the
// check that ran ahead, it gets that answer instead of asking twice.
int checkedAuthenticate(rdpShadowSubsystem* subsystem, rdpShadowClient* client, const char* user,
                        const char* domain, const char* password) {
    if (tPasswordChecked) {
        tPasswordChecked = false;
        return 1;
    }
    const pfnShadowAuthenticate authenticate = gSubsystemAuthenticate.load();
    return authenticate ? authenticate(subsystem, client, user, domain, password) : -1;
}

// The library's PostConnect reports a client as activated and opens its
// channels before it checks the password of a TLS or RDP login. The check
// runs here first: a client that does not log in is refused before any of
// that and is never reported as activated.
bool passwordCheckedAhead(freerdp_peer* peer) {
    auto* client = reinterpret_cast<rdpShadowClient*>(peer->context);
    const rdpShadowServer* server = client ? client->server : nullptr;
    const pfnShadowAuthenticate authenticate = gSubsystemAuthenticate.load();
    const rdpSettings* settings = peer->context ? peer->context->settings : nullptr;
    if (!server || !server->authentication || !authenticate || !settings ||
        freerdp_settings_get_bool(settings, FreeRDP_NlaSecurity))
        return true;
    if (authenticate(server->subsystem, client,
                     freerdp_settings_get_string(settings, FreeRDP_Username),
                     freerdp_settings_get_string(settings, FreeRDP_Domain),
                     freerdp_settings_get_string(settings, FreeRDP_Password)) < 0)
        return false;
    tPasswordChecked = true;
    return true;
}

// The library's PostConnect opens the client's sound channel; the channel
// then gets its own format list (see sound_formats.h).
BOOL wrappedPostConnect(freerdp_peer* peer) {
    if (!passwordCheckedAhead(peer))
        return FALSE;
    const psPeerPostConnect postConnect = gLibraryPostConnect.load();
    const BOOL ok = postConnect ? postConnect(peer) : FALSE;
    tPasswordChecked = false; // also when the library failed before asking
    if (shadow_ext_hook_on(SHADOW_EXT_SOUND_FORMATS))
        shadow_ext_client_own_sound_formats(reinterpret_cast<rdpShadowClient*>(peer->context));
    return ok;
}

// The NLA attempt mark of a client whose NLA login was accepted (a client
// may end its connection right after, as "+auth-only" clients do).
constexpr INT32 kNlaLoggedOn = 2;

// A connection whose handshake failed may still hold the client's next PDUs
// in its TLS buffer; shutting the socket down does not drop them, and the
// library's loop would hand them to the state machine again: a second
// PostConnect, a second password check counted against the address.
BOOL endedConnectionTurn(freerdp_peer*) {
    return FALSE;
}

// The library's client thread sets its own Logon just before it calls
// Initialize, so the subsystem's Logon hook goes on right after. Then the
// connection's handshake runs here, before the library subscribes the
// connection to publication (peer_guard.h): however long a login takes, it
// holds nobody else. A connection that did not get activated is shut down
// before returning and takes no further input, so the library's loop fails
// on its first turn and ends it through its usual path (channels,
// ClientDisconnect, Disconnect, free).
BOOL wrappedInitialize(freerdp_peer* peer) {
    shadow_ext::PeerState state;
    const bool tracked = shadow_ext::peerState(peer, state);
    if (peer->PostConnect && peer->PostConnect != wrappedPostConnect) {
        gLibraryPostConnect.store(peer->PostConnect);
        peer->PostConnect = wrappedPostConnect;
    }
    const psPeerInitialize initialize =
        tracked && state.libraryInitialize ? state.libraryInitialize : gSeenInitialize.load();
    if (!initialize || !initialize(peer))
        return FALSE;
    if (!tracked || !state.watch)
        return TRUE;
    if (state.hooks.HookLogon)
        state.hooks.HookLogon(peer);
    shadow_ext::wrapActivate(peer);
    auto* client = reinterpret_cast<rdpShadowClient*>(peer->context);
    shadow_ext::PeerWatch& watch = *state.watch;
    if (client)
        shadow_ext::setLibraryInputFeatures(client->context.settings);
    shadow_ext::watchWrites(peer);
    const shadow_ext::HandshakeEnd end =
        shadow_ext::driveHandshake(peer, client, watch.acceptedAt + shadow_ext::kLoginGraceMs);
    if (end == shadow_ext::HandshakeEnd::Activated) {
        shadow_ext::watchTurns(peer);
        watch.activated.store(true);
        return TRUE;
    }
    peer->CheckFileDescriptor = endedConnectionTurn;
    if (!shadow_ext::closeOnce(watch))
        return TRUE; // the guard closed it and said why
    if (end == shadow_ext::HandshakeEnd::TimedOut)
        shadow_ext::noteLoginTimeout(watch.host.c_str(), shadow_ext::kLoginGraceMs,
                                     shadow_ext_now_ms());
    else if (end == shadow_ext::HandshakeEnd::Stopping)
        shadow_ext::logLine(WLOG_INFO, "closing the connection from %s: the server is stopping",
                            watch.host.c_str());
    else if (!watch.everHeld.load() &&
             (!client || shadow_ext_client_nla_attempt(client) != kNlaLoggedOn))
        shadow_ext::noteLoginFailure(watch.host.c_str(), shadow_ext_now_ms());
    return TRUE;
}

// The library's client thread calls Disconnect for every peer it ran, a
// connected one or one that failed NLA, before it frees the client record.
void wrappedDisconnect(freerdp_peer* peer) {
    shadow_ext::PeerState state;
    const bool tracked = shadow_ext::peerState(peer, state);
    if (tracked) {
        rdpShadowSubsystemExt* subsystem = subsystemOf(state.server);
        auto* client = reinterpret_cast<rdpShadowClient*>(peer->context);
        if (subsystem && subsystem->PeerEnd && client)
            subsystem->PeerEnd(&subsystem->base, client);
        shadow_ext::forgetPeer(peer);
    }
    const psPeerDisconnect disconnect =
        tracked && state.libraryDisconnect ? state.libraryDisconnect : gSeenDisconnect.load();
    if (disconnect)
        disconnect(peer);
}

} // namespace

namespace shadow_ext {

// Whether a new connection from `host` may start a login (see
// peer_admission.h); a refusal is logged.
bool admitted(const char* host) {
    if (!shadow_ext_hook_on(SHADOW_EXT_LOGIN_HANDSHAKE))
        return true; // the library's own login: nothing of ours to count
    const uint64_t now = shadow_ext_now_ms();
    const size_t unfinished = shadow_ext_unfinished_logins();
    const size_t fromHost = shadow_ext_unfinished_logins_from(host);
    const uint64_t penalty = penalties().remaining(host, now);
    const Admission verdict = admissionVerdict(unfinished, fromHost, penalty, shedRoll());
    if (verdict == Admission::Admit)
        return true;
    logRefusal(verdict, host, unfinished, fromHost, penalty, now);
    return false;
}

} // namespace shadow_ext

namespace {

// The library's client record does not exist before its accept runs; a
// provisional record carrying the peer, server and subsystem stands in for
// it during PeerInit. PeerInit keeps no pointer to it.
BOOL admitted(rdpShadowServer* server, freerdp_peer* peer) {
    rdpShadowSubsystemExt* subsystem = subsystemOf(server);
    if (!subsystem || !subsystem->PeerInit)
        return TRUE;
    auto provisional = std::make_unique<rdpShadowClient>();
    provisional->context.peer = peer;
    provisional->server = server;
    provisional->subsystem = &subsystem->base;
    return subsystem->PeerInit(&subsystem->base, provisional.get());
}

void untrack(freerdp_peer* peer, const shadow_ext::PeerState& state) {
    peer->Initialize = state.libraryInitialize;
    peer->Disconnect = state.libraryDisconnect;
    peer->SspiNtlmHashCallback = nullptr;
    shadow_ext::forgetPeer(peer);
}

} // namespace

extern "C" pfnShadowExtPeerAccepted shadow_ext_set_library_accept(pfnShadowExtPeerAccepted accept) {
    return gLibraryAccept.exchange(accept);
}

extern "C" BOOL shadow_ext_peer_accepted(freerdp_listener* listener, freerdp_peer* peer) {
    if (!listener || !peer)
        return FALSE;
    auto* server = static_cast<rdpShadowServer*>(listener->info);
    const pfnShadowExtPeerAccepted accept = gLibraryAccept.load();
    if (!server || !accept)
        return FALSE;

    if (!shadow_ext::admitted(peer->hostname))
        return FALSE;

    shadow_ext::PeerState state;
    state.server = server;
    state.libraryInitialize = peer->Initialize;
    state.libraryDisconnect = peer->Disconnect;
    // Without the login handshake the library runs the login its own way
    // and the guard has nothing to watch.
    if (shadow_ext_hook_on(SHADOW_EXT_LOGIN_HANDSHAKE)) {
        state.watch = std::make_shared<shadow_ext::PeerWatch>();
        state.watch->acceptedAt = shadow_ext_now_ms();
        state.watch->sockfd = peer->sockfd;
        state.watch->host = peer->hostname;
    }
    gSeenInitialize.store(peer->Initialize);
    gSeenDisconnect.store(peer->Disconnect);
    shadow_ext::trackPeer(peer, state);
    peer->Initialize = wrappedInitialize;
    peer->Disconnect = wrappedDisconnect;

    // A refused peer is freed, and its socket closed, by the listener.
    if (!admitted(server, peer) || !accept(listener, peer)) {
        untrack(peer, state);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL shadow_ext_install_peer_hooks(rdpShadowServer* server) {
    if (!server || !server->listener || !server->listener->PeerAccepted)
        return FALSE;
    if (server->listener->PeerAccepted != shadow_ext_peer_accepted) {
        gLibraryAccept.store(server->listener->PeerAccepted);
        server->listener->PeerAccepted = shadow_ext_peer_accepted;
    }
    rdpShadowSubsystem* subsystem = server->subsystem;
    if (subsystem && subsystem->Authenticate && subsystem->Authenticate != checkedAuthenticate) {
        gSubsystemAuthenticate.store(subsystem->Authenticate);
        subsystem->Authenticate = checkedAuthenticate;
    }
    return TRUE;
}

extern "C" BOOL shadow_ext_peer_set_hooks(rdpShadowClient* client,
                                          const rdpShadowExtPeerHooks* hooks) {
    if (!client || !client->context.peer || !hooks)
        return FALSE;
    freerdp_peer* peer = client->context.peer;
    const rdpShadowExtPeerHooks copy = *hooks;
    if (!shadow_ext::updatePeer(peer, [&copy](shadow_ext::PeerState& s) { s.hooks = copy; }))
        return FALSE;
    peer->SspiNtlmHashCallback = copy.NlaHash ? nlaHashBridge : nullptr;
    return TRUE;
}

extern "C" UINT64 shadow_ext_client_bytes_sent(rdpShadowClient* client) {
    const auto watch = client ? shadow_ext::peerWatch(client->context.peer) : nullptr;
    return watch ? watch->bytesSent.load(std::memory_order_relaxed) : 0;
}

extern "C" UINT64 shadow_ext_client_frames_sent(rdpShadowClient* client) {
    const auto watch = client ? shadow_ext::peerWatch(client->context.peer) : nullptr;
    return watch ? watch->framesSent.load(std::memory_order_relaxed) : 0;
}

extern "C" BOOL shadow_ext_client_close(rdpShadowClient* client) {
    const auto watch = client ? shadow_ext::peerWatch(client->context.peer) : nullptr;
    return watch && shadow_ext::closeOnce(*watch) ? TRUE : FALSE;
}
