// The library's face towards the shadow server: its name, its entry-point
// table and the free function of the messages we post to clients.
#include <cstdlib>

#include <freerdp/server/server-common.h>

#include "mac_shadow.h"

extern "C" const char* ShadowSubsystemName(void) {
    return "Mac";
}

extern "C" int ShadowSubsystemEntry(RDP_SHADOW_ENTRY_POINTS* pEntryPoints) {
    const char* names[] = {"mac shadow subsystem"};
    freerdp_server_warn_unmaintained(1, const_cast<char**>(names));
    if (!pEntryPoints)
        return -1;
    pEntryPoints->New = mac_shadow_subsystem_new;
    pEntryPoints->Free = mac_shadow_subsystem_free;
    pEntryPoints->Init = mac_shadow_subsystem_init;
    pEntryPoints->Uninit = mac_shadow_subsystem_uninit;
    pEntryPoints->Start = mac_shadow_subsystem_start;
    pEntryPoints->Stop = mac_shadow_subsystem_stop;
    pEntryPoints->EnumMonitors = mac_shadow_enum_monitors;
    return 1;
}

extern "C" void mac_shadow_message_free(UINT32 id, SHADOW_MSG_OUT* message) {
    if (!message)
        return;
    if (id == SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE_ID) {
        auto* pointer = reinterpret_cast<SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE*>(message);
        std::free(pointer->xorMaskData);
        std::free(pointer->andMaskData);
    } else if (id == SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES_ID) {
        auto* samples = reinterpret_cast<SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES*>(message);
        std::free(samples->buf);
    }
    std::free(message);
}
