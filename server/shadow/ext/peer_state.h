// Per-connection state of the extension layer, keyed by the FreeRDP peer
// (which outlives the client record's creation and ends after the peer-end
// hook). Every access goes through one mutex; values are copied out. The
// connection guard's live facts (PeerWatch) are shared, not copied: the
// write hook and the guard's watchdog update and read them without the lock.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <freerdp/transport_io.h>
#include <winpr/handle.h>
#include <winpr/synch.h>

#include "peer_hooks.h"

namespace shadow_ext {

// What the connection guard knows about one connection.
struct PeerWatch {
    PeerWatch() : wake(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~PeerWatch() {
        if (wake)
            CloseHandle(wake);
    }
    PeerWatch(const PeerWatch&) = delete;
    PeerWatch& operator=(const PeerWatch&) = delete;

    uint64_t acceptedAt = 0; // ms, the extension layer's clock
    int sockfd = -1;
    std::string host;
    // Logged in and handed to publication (the library subscribes it next).
    std::atomic<bool> activated{false};
    // Writes in progress, and since when the connection has been writing
    // without a pause (ms, 0 = not writing).
    std::atomic<int> writes{0};
    std::atomic<uint64_t> writingSince{0};
    // Since when the connection's thread has been in the part of a turn of
    // the library's loop that follows the frame step (the client's input,
    // its channels, queued messages), 0 while it waits for work or handles a
    // frame. A thread that stays there cannot take the next frame.
    std::atomic<uint64_t> busySince{0};
    // Bytes the library has written to the client (the control channel's
    // kbit/s).
    std::atomic<uint64_t> bytesSent{0};
    // Graphics-pipeline frames begun for the client (its figures and the
    // connection log's session end); surface-bits clients count none.
    std::atomic<uint64_t> framesSent{0};
    // Set once, by whoever closes the connection first (guard or handshake).
    std::atomic<bool> closed{false};
    // Logged in and held before activation until the host answers
    // (peer_hold.h): no login deadline runs meanwhile. Its activation, when
    // the client asked for it while held, waits in activationDeferred; the
    // login deadline starts again from releasedAt.
    std::atomic<bool> held{false};
    std::atomic<bool> everHeld{false};
    std::atomic<bool> activationDeferred{false};
    // The subsystem's ClientReleased ran (before the first activation only).
    std::atomic<bool> releaseStepDone{false};
    std::atomic<uint64_t> releasedAt{0};
    // Set to wake the handshake loop (a release); reset by the loop.
    HANDLE wake = nullptr;
    pTransportRWFkt libraryWrite = nullptr;
    psPeerGetEventHandles libraryEventHandles = nullptr;
    psPeerCheckFileDescriptor libraryCheck = nullptr;
};

struct PeerState {
    rdpShadowServer* server = nullptr;
    psPeerInitialize libraryInitialize = nullptr;
    psPeerDisconnect libraryDisconnect = nullptr;
    rdpShadowExtPeerHooks hooks{};
    INT32 nlaAttempt = 0;
    std::shared_ptr<PeerWatch> watch;
};

// Starts tracking a peer (replacing a stale entry for a reused address).
void trackPeer(freerdp_peer* peer, const PeerState& state);
// Stops tracking; true when the peer was tracked.
bool forgetPeer(freerdp_peer* peer);
// Copies the state out; false when the peer is not tracked.
bool peerState(freerdp_peer* peer, PeerState& out);
// The connection's watch; null when the peer is not tracked.
std::shared_ptr<PeerWatch> peerWatch(freerdp_peer* peer);
// Changes the state under the lock; false when the peer is not tracked.
bool updatePeer(freerdp_peer* peer, const std::function<void(PeerState&)>& change);
// Visits every tracked peer under the lock: a peer is not forgotten, and so
// its socket not closed by the library, while the visit runs.
void forEachPeer(const std::function<void(freerdp_peer*, PeerState&)>& visit);
size_t trackedPeers();

} // namespace shadow_ext
