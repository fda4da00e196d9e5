#include "shadow_ext.h"

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
