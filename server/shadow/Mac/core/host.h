// The shadow server calls the core makes while running, gathered in one table
// so that integration tests can stand in for the encoder and the clients.
#pragma once
#include <freerdp/server/shadow.h>

struct MacShadowHost {
    void (*frameUpdate)(rdpShadowSubsystem* subsystem);
    UINT32 (*preferredFps)(rdpShadowEncoder* encoder);
    UINT32 (*inflightFrames)(rdpShadowEncoder* encoder);
    // Resizes the shadow surface to the whole desktop (the subsystem's
    // virtual screen); FALSE on failure.
    BOOL (*screenResize)(rdpShadowServer* server);
    // Ends every client's session (each client thread leaves its loop and
    // disconnects); the library's answer.
    int (*quitClients)(rdpShadowServer* server, int exitCode);
};

// The table in force (the library's functions unless a test replaced it).
const MacShadowHost& mac_shadow_host(void);
void mac_shadow_set_host_for_tests(const MacShadowHost* host);
