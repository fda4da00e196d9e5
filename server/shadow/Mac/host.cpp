#include "host.h"

#include "../ext/shadow_ext.h"

#include <atomic>

namespace {
const MacShadowHost kLibraryHost = {shadow_subsystem_frame_update, shadow_encoder_preferred_fps,
                                    shadow_encoder_inflight_frames, shadow_ext_screen_resize};
std::atomic<const MacShadowHost*> gHost{&kLibraryHost};
} // namespace

const MacShadowHost& mac_shadow_host(void) {
    return *gHost.load();
}

void mac_shadow_set_host_for_tests(const MacShadowHost* host) {
    gHost.store(host ? host : &kLibraryHost);
}
