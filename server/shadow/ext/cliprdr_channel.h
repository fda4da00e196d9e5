// The clipboard channel (cliprdr) of the extension layer: one per client
// that may interact, opened when the client connects and closed when it
// leaves, each with a thread of its own. It offers the desktop's clipboard
// as CF_UNICODETEXT and CF_DIB and answers the client's requests through
// the subsystem's clipboard callbacks; what a client copies (text, or a
// picture as CF_DIB, CF_DIBV5 or PNG) is fetched when the client announces
// it and handed to the subsystem. Data crosses only on request on the
// desktop side. A malformed or oversized PDU from a client is refused on
// its own (a failure response where the protocol has one, otherwise it is
// dropped with a warning); the channel and the session go on.
#pragma once
#include <freerdp/server/shadow.h>

#ifdef __cplusplus
extern "C" {
#endif

// Wraps the subsystem's ClientConnect and ClientDisconnect so that every
// client gets its channel; does nothing when MAC_SHADOW_CLIPBOARD begins
// with "0". Call between shadow_server_init and shadow_server_start.
BOOL shadow_ext_install_cliprdr(rdpShadowServer* server);

// Offers the desktop's clipboard anew to every client with a channel.
void shadow_server_cliprdr_notify_host_change(rdpShadowServer* server);

// A view-only client's clipboard: nothing crosses in either direction while
// it is off (the client is offered an empty clipboard, what it copies is not
// fetched, its requests fail). Kept for a client whose channel opens later.
void shadow_ext_cliprdr_set_allowed(rdpShadowClient* client, BOOL allowed);

// Channels open right now (tests check nothing is left behind).
size_t shadow_ext_cliprdr_channels(void);
// Host-change notices given since the process started.
uint64_t shadow_ext_cliprdr_notices(void);

#ifdef __cplusplus
}
#endif
