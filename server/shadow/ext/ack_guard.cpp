#include "ack_guard.h"

#include <dlfcn.h>

#include <freerdp/server/shadow.h>

#include "hook_gate.h"

extern "C" UINT32 shadow_ext_frames_in_flight(UINT32 counted) {
    // A real count never reaches half the id range.
    return static_cast<INT32>(counted) < 0 ? 0 : counted;
}

// Defined in front of the library's own: its frame counter calls it through
// the dynamic linker before every frame, and so do the subsystem's frame-rate
// and repaint checks.
extern "C" UINT32 shadow_encoder_inflight_frames(rdpShadowEncoder* encoder) {
    using Fn = UINT32 (*)(rdpShadowEncoder*);
    static const Fn library =
        reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "shadow_encoder_inflight_frames"));
    const UINT32 counted = library ? library(encoder) : 0;
    static const bool on = shadow_ext_hook_on(SHADOW_EXT_ACK_GUARD);
    return on ? shadow_ext_frames_in_flight(counted) : counted;
}
