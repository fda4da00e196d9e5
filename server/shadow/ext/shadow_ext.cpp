#include "shadow_ext.h"

#include "hook_gate.h"

namespace {
// One server per process; the state lives as long as the process.
rdpShadowServerExt gServerExt{};
} // namespace

extern "C" BOOL shadow_ext_attach(rdpShadowServer* server) {
    if (!server)
        return FALSE;
    server->ext = &gServerExt;
    return TRUE;
}

extern "C" rdpShadowServerExt* shadow_ext_of(rdpShadowServer* server) {
    return server ? static_cast<rdpShadowServerExt*>(server->ext) : nullptr;
}

extern "C" BOOL shadow_ext_server_side_cursor(rdpShadowServer* server) {
    const rdpShadowServerExt* ext = shadow_ext_of(server);
    return ext && ext->serverSideCursor;
}

extern "C" BOOL shadow_ext_screen_resize(rdpShadowServer* server) {
    if (!server || !server->screen || !server->subsystem)
        return FALSE;
    if (!shadow_ext_hook_on(SHADOW_EXT_SCREEN_RESIZE))
        return shadow_screen_resize(server->screen);
    rdpShadowSubsystem* subsystem = server->subsystem;
    const MONITOR_DEF whole = subsystem->virtualScreen;
    if (whole.right < whole.left || whole.bottom < whole.top || whole.right - whole.left >= 8192 ||
        whole.bottom - whole.top >= 8192 || subsystem->selectedMonitor >= 16)
        return FALSE;
    // The library reads the selected monitor's rectangle; it stands for the
    // whole desktop only for the length of the call.
    MONITOR_DEF& selected = subsystem->monitors[subsystem->selectedMonitor];
    const MONITOR_DEF kept = selected;
    selected = whole;
    const BOOL resized = shadow_screen_resize(server->screen);
    selected = kept;
    return resized;
}
