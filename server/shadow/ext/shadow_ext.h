// The extension layer over FreeRDP's packaged shadow library. The library
// lacks a few callback slots and options the subsystem relies on; this layer
// supplies them: extra slots that follow the library's subsystem record, and
// server-wide state (options parsed from the command line) reached through
// the library's free `server->ext` pointer.
#pragma once
#include <freerdp/channels/disp.h>
#include <freerdp/server/shadow.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef BOOL (*pfnShadowExtClipboardGetText)(rdpShadowSubsystem* subsystem, char** text);
typedef BOOL (*pfnShadowExtClipboardSetText)(rdpShadowSubsystem* subsystem, const char* text);
typedef BOOL (*pfnShadowExtDisplayLayout)(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                                          UINT32 count,
                                          const DISPLAY_CONTROL_MONITOR_LAYOUT* monitors);
typedef BOOL (*pfnShadowExtPeerInit)(rdpShadowSubsystem* subsystem, rdpShadowClient* client);
typedef void (*pfnShadowExtPeerEnd)(rdpShadowSubsystem* subsystem, rdpShadowClient* client);
// A held client the host let in, on its own thread right before its
// activation (peer_hold.h): what waited for the host's answer happens here.
typedef void (*pfnShadowExtClientReleased)(rdpShadowSubsystem* subsystem, rdpShadowClient* client);
typedef UINT32 (*pfnShadowExtClipboardAvailable)(rdpShadowSubsystem* subsystem);
// Pixels are 32-bit B, G, R, A rows top-down; the caller frees them.
typedef BOOL (*pfnShadowExtClipboardGetImage)(rdpShadowSubsystem* subsystem, BYTE** pixels,
                                              UINT32* width, UINT32* height);
typedef BOOL (*pfnShadowExtClipboardSetImage)(rdpShadowSubsystem* subsystem, const BYTE* pixels,
                                              UINT32 width, UINT32 height);

// The library's subsystem record followed by the extension slots, in the
// order the subsystem fills them.
typedef struct {
    rdpShadowSubsystem base;
    pfnShadowExtClipboardGetText ClipboardGetText;
    pfnShadowExtClipboardSetText ClipboardSetText;
    pfnShadowExtDisplayLayout DisplayLayout;
    pfnShadowExtPeerInit PeerInit;
    pfnShadowExtPeerEnd PeerEnd;
    pfnShadowExtClipboardAvailable ClipboardAvailable;
    pfnShadowExtClipboardGetImage ClipboardGetImage;
    pfnShadowExtClipboardSetImage ClipboardSetImage;
    pfnShadowExtClientReleased ClientReleased;
    // Set to 1 by the subsystem after each change of its monitor table.
    volatile LONG layoutChanged;
} rdpShadowSubsystemExt;

// Server-wide options of the extension layer.
typedef struct {
    BOOL serverSideCursor; // +server-side-cursor: clients draw the cursor themselves
} rdpShadowServerExt;

// Attaches the extension state to a server (before shadow_server_init).
BOOL shadow_ext_attach(rdpShadowServer* server);
// The extension state of a server; null when none is attached.
rdpShadowServerExt* shadow_ext_of(rdpShadowServer* server);
// Whether the server runs with +server-side-cursor.
BOOL shadow_ext_server_side_cursor(rdpShadowServer* server);

// Resizes the shadow surface to the subsystem's whole virtual screen (every
// monitor, up to 8192 x 8192); the library sizes it from one monitor only.
// Clients follow through the library's own resize path. FALSE when the
// server has no screen or the surface could not be resized.
BOOL shadow_ext_screen_resize(rdpShadowServer* server);

#ifdef __cplusplus
}
#endif
