// The packaged shadow library hands every client's sound channel the
// subsystem's own list of server sound formats and frees that list when the
// client's channel goes away: the first client to leave would free the list
// the next ones use (or, with a list that is not on the heap, abort the
// process). Each client's channel gets its own copy instead, right after the
// library's PostConnect created it, whether that PostConnect succeeded or
// not.
#pragma once
#include <freerdp/server/shadow.h>

#ifdef __cplusplus
extern "C" {
#endif

// Gives the client's sound channel its own copy of the subsystem's list
// when it still points at the shared one. TRUE when a copy was made; when
// no copy can be made, the channel is left with no server formats.
BOOL shadow_ext_client_own_sound_formats(rdpShadowClient* client);

#ifdef __cplusplus
}
#endif
