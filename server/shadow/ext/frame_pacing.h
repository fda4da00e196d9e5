// Frames paced by each client's acknowledgements (pacing_rule.h decides).
// The library sends a graphics-pipeline client every published frame however
// far behind it is, so on a slow client each change queues behind frames it
// has not shown yet. Here a client's update is held where the library has
// just gathered it (its own invalid region and the frame's changes) and the
// region goes back to the client: it grows with every frame the client
// skips, and goes out whole at the first update after an acknowledgement
// made room. Other clients are not touched: each client's update runs on its
// own thread.
#pragma once
#include <freerdp/server/shadow.h>

#ifdef __cplusplus
extern "C" {
#endif

// The subsystem's message asking for a publication even when the screen has
// no new changes: a client's held changes may go out now.
#define SHADOW_EXT_MSG_HELD_CHANGES_ID 3001

// Hooks each client's graphics channel and its updates (the library version
// it was verified on only); call between shadow_server_init and
// shadow_server_start. Returns FALSE only on a broken server.
BOOL shadow_ext_install_frame_pacing(rdpShadowServer* server);

#ifdef __cplusplus
}
#endif
