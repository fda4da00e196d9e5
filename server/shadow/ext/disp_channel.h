// The display-control channel of the extension layer: for every connected
// client it is opened as soon as the client's dynamic channel is ready, and
// the monitor layouts the client sends go to the subsystem's display-layout
// slot. The channel lives from the client's connect to its disconnect.
#pragma once
#include <freerdp/server/shadow.h>

#ifdef __cplusplus
extern "C" {
#endif

// Wraps the subsystem's ClientConnect and ClientDisconnect slots; call
// between shadow_server_init and shadow_server_start.
BOOL shadow_ext_install_disp_channel(rdpShadowServer* server);

// Display-control channels open right now (tests check none is left).
size_t shadow_ext_disp_channels(void);

#ifdef __cplusplus
}
#endif
