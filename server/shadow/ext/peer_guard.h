// The connection guard of the extension layer: no connection can make the
// others wait for long.
//
// The shadow library hands every frame to all connections it has
// subscribed and waits, without a time limit, until each one has taken it
// (shadow_subsystem_frame_update). It subscribes a connection right after
// peer->Initialize returns. So:
//   - the wrapped Initialize (peer_handshake.cpp) drives the connection's
//     handshake itself (TLS, NLA, the password check, activation) and only
//     returns once the client is activated or the connection is over: a
//     login, however slow, never holds publication;
//   - a connection that has not logged in within the login grace time is
//     closed; how many may be logging in at once is peer_admission.h's;
//   - an activated client takes a frame at the start of its thread's next
//     loop turn; whatever keeps the thread from getting there (a write the
//     client does not read, input or channel work that does not return)
//     holds publication. Once publication has waited kPublishWaitMs and a
//     client's thread has been stuck in a write, or in the rest of a turn,
//     for kStalledMs, its socket is shut down, its thread fails out of the
//     library's loop and unsubscribes, and publication goes on. The watchdog
//     checks every quarter second, so publication never waits much longer
//     than kPublishWaitMs for one client. A client that is the only one
//     activated makes nobody wait but the capture: it is kept, since on a
//     slow link a whole frame can take seconds to go out, and it then simply
//     gets fewer frames. Once a second client is activated, the rule holds.
// Closing means shutdown() of the socket: the descriptor stays the library's
// (it closes it when the connection ends), and every blocked read or write
// on it returns at once.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <freerdp/peer.h>
#include <winpr/wtypes.h>

#ifdef __cplusplus

namespace shadow_ext {

inline constexpr uint64_t kLoginGraceMs = 30000;
inline constexpr uint64_t kPublishWaitMs = 2000;
inline constexpr uint64_t kStalledMs = 1000;

enum class GuardVerdict {
    Keep,
    LoginTooSlow,    // not logged in within the grace time
    NotTakingFrames, // activated, stuck while publication waits for it
    ServerStopping,  // the server stops: connections that would hold it end now
};

// What the guard knows about one connection (ms of the guard's clock, 0 =
// not set).
struct GuardFacts {
    uint64_t acceptedAt = 0;
    bool activated = false;
    uint64_t writingSince = 0; // in a write to the client
    uint64_t busySince = 0;    // in the part of a loop turn after the frame step
    bool held = false;         // logged in, waiting for the host's answer
    uint64_t releasedAt = 0;   // when the host let a held client go on
    bool alone = false;        // no other client is activated to wait for it
};

// What the guard decides for one connection at `now`. `publishingSince` is
// when the publication in progress began (0: none).
GuardVerdict guardVerdict(const GuardFacts& facts, uint64_t now, uint64_t publishingSince,
                          bool stopping);

struct PeerWatch;
// Shuts the connection's socket down unless someone did already; true when
// this call did (the caller writes the log line).
bool closeOnce(PeerWatch& watch);
// Puts the write watch on the peer's transport (after the library's
// Initialize, before the first PDU is written).
bool watchWrites(freerdp_peer* peer);
// Puts the turn watch on an activated peer's loop (its GetEventHandles
// starts a turn, its CheckFileDescriptor follows the frame step).
bool watchTurns(freerdp_peer* peer);
// A line of the extension layer's log.
void logLine(DWORD level, const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace shadow_ext

extern "C" {
#endif

// The clock of the guard's schedules (ms); the subsystem hands over its own
// so that one clock rules all schedules. Null restores the real one.
void shadow_ext_set_clock(uint64_t (*nowMs)(void));
uint64_t shadow_ext_now_ms(void);

// Frames handed to the library for publication since the process started.
uint64_t shadow_ext_publications(void);
// Starts the guard's watchdog thread once (the server executable does; tests
// run single sweeps instead).
BOOL shadow_ext_guard_start(void);
// One pass of the watchdog: closes the connections the verdict names, with
// a log line each. Returns how many it closed.
size_t shadow_ext_guard_sweep(void);

// The publication in progress, as the watchdog sees it: bracket every call of
// shadow_subsystem_frame_update with these.
void shadow_ext_publish_begin(void);
void shadow_ext_publish_end(void);

// The server is stopping: the library waits for every connection to end, so
// connections still logging in or stuck writing are closed now.
void shadow_ext_peers_stopping(void);
// Back to normal operation (tests).
void shadow_ext_guard_reset(void);

// Connections accepted that have not logged in (or ended) yet, of the whole
// server or from one address.
size_t shadow_ext_unfinished_logins(void);
size_t shadow_ext_unfinished_logins_from(const char* host);

// Raises the soft limit of open files to the hard limit (logged); an
// accepted connection costs about a dozen descriptors before it logs in.
BOOL shadow_ext_raise_open_files_limit(void);

#ifdef __cplusplus
}
#endif
