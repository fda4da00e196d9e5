// Which video codec a client's graphics pipeline gets. The packaged shadow
// library only ever agrees H.264 with a client on graphics pipeline 10.x when
// AVC444 is allowed: with -gfx-avc444 it turns H.264 off altogether and the
// client gets the wavelet codec, although AVC420 is allowed and the client can
// decode it. This layer watches each client's capability exchange and, in that
// case, agrees AVC420 instead; with AVC444 allowed it leaves the library's
// choice alone. It logs the agreed codec and the codec of the first frame.
#pragma once
#include <freerdp/server/shadow.h>

#ifdef __cplusplus
extern "C" {
#endif

// Wraps the subsystem's ClientConnect slot to hook each client's graphics
// channel; call between shadow_server_init and shadow_server_start.
BOOL shadow_ext_install_gfx_codec(rdpShadowServer* server);

// What to confirm to a client (pure; the caller applies it).
typedef struct {
    UINT32 flags; // the capability flags to confirm
    BOOL avc420;  // H.264 in its 4:2:0 form is used
} ShadowExtGfxChoice;

// The library chose `confirmed` (version and flags) and H.264 AVC444 on or
// off (`libraryAvc444`), H.264 AVC420 on or off (`libraryAvc420`).
// `advertisedFlags` are the client's own flags for that version;
// `serverAvc420` whether the server allows AVC420; `encoderAvailable` whether
// an H.264 encoder can be opened.
ShadowExtGfxChoice shadow_ext_gfx_choose(UINT32 version, UINT32 confirmedFlags,
                                         UINT32 advertisedFlags, BOOL libraryAvc444,
                                         BOOL libraryAvc420, BOOL serverAvc420,
                                         BOOL encoderAvailable);

// The name of a graphics codec id for the log ("AVC420", "AVC444v2", ...).
const char* shadow_ext_gfx_codec_name(UINT16 codecId);

// Commands sent on this thread between these two calls go beside the
// library's own (planar strips in a RemoteFX frame) and do not change the
// codec the log names for the client.
void shadow_ext_gfx_aside_begin(void);
void shadow_ext_gfx_aside_end(void);

#ifdef __cplusplus
}
#endif
