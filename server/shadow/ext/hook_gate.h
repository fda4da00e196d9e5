// The gate in front of every hook of the extension layer. Each hook leans on
// how a particular FreeRDP release behaves inside (the order of its calls,
// the fields it leaves free, the callbacks it never sets), so each one runs
// only on the library versions its contract test passed on
// (verified_versions.txt); on any other version it stays off, with one log
// line, and the library's own behaviour stands in.
//
// MAC_SHADOW_EXT_OFF (names, comma-separated, or "all") switches hooks off
// on purpose; MAC_SHADOW_EXT_TRY runs hooks on a version they were not
// verified on, to verify them there.
#pragma once
#include <winpr/wtypes.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum {
    SHADOW_EXT_PEER_HOOKS,       // accept wrapper: peer init and end, NLA hash, Logon hook
    SHADOW_EXT_LOGIN_HANDSHAKE,  // logins before publication, and the connection guard
    SHADOW_EXT_SOUND_FORMATS,    // each client's own list of sound formats
    SHADOW_EXT_CLIPBOARD,        // the clipboard channel per client
    SHADOW_EXT_DISPLAY_CONTROL,  // the display-control channel per client
    SHADOW_EXT_H264_TUNING,      // profile and key frames through avcodec_open2
    SHADOW_EXT_GFX_CODEC,        // AVC420 for graphics pipeline 10.x when AVC444 is off
    SHADOW_EXT_CHANGED_REGION,   // frames of only the changed region, flat tiles as fills
    SHADOW_EXT_SCREEN_RESIZE,    // the surface sized to every monitor
    SHADOW_EXT_PLANAR_CHECK,     // planar bitmaps checked where the encoder errs
    SHADOW_EXT_FRAME_PACING,     // frames paced by each client's acknowledgements
    SHADOW_EXT_SCROLL_COPY,      // scrolls as copies inside a planar or wavelet surface
    SHADOW_EXT_ACK_GUARD,        // a stale acknowledgement counts no frames in flight
    SHADOW_EXT_HOOK_COUNT
} ShadowExtHook;

typedef enum {
    SHADOW_EXT_ON,              // verified on this version
    SHADOW_EXT_TRIED,           // not verified here, switched on by MAC_SHADOW_EXT_TRY
    SHADOW_EXT_OFF_UNVERIFIED,  // not verified on this version
    SHADOW_EXT_OFF_REQUESTED,   // switched off by MAC_SHADOW_EXT_OFF
    SHADOW_EXT_OFF_NEEDS        // a hook it stands on is off
} ShadowExtVerdict;

// The hook's name in the table, the log and the variables ("peer-hooks").
const char* shadow_ext_hook_name(ShadowExtHook hook);

// Pure: the verdict for every hook on library version `version` ("3.10.3"),
// from the built-in table of verified versions and the two variables' values
// (null when unset). A hook that stands on another that is off is off too.
void shadow_ext_hook_verdicts(const char* version, const char* offList, const char* tryList,
                              ShadowExtVerdict out[SHADOW_EXT_HOOK_COUNT]);

// The versions a hook was verified on, as built in ("" when none).
const char* shadow_ext_hook_verified_on(ShadowExtHook hook);

// Decides every hook once for the loaded library and the environment and
// logs the result: one line naming the hooks that are on, one line for each
// hook that is off and why. Later calls only log again.
void shadow_ext_hooks_decide(void);

// Whether a hook may act; decides first when nothing was decided yet.
BOOL shadow_ext_hook_on(ShadowExtHook hook);

// Whether a hook is off only for want of verification on the loaded library
// (not because it was switched off on purpose): its contract test is then
// skipped rather than failed.
BOOL shadow_ext_hook_unverified(ShadowExtHook hook);

// Tests that drive a hook's code with stand-ins for the library switch the
// gate to every hook on (TRUE) or back to the loaded library's verdict.
void shadow_ext_hooks_force_on_for_tests(BOOL on);

#ifdef __cplusplus
}
#endif
