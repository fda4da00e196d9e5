// The library's face towards the shadow server: its name, its entry-point
// table, the callback slots of the record, the free function of the messages
// we post to clients, and the table of the server's calls the core makes.
#include <atomic>
#include <cstdlib>

#include "base/clock.h"
#include "base/log.h"
#include "control/control_sessions.h"
#include "host.h"
#include "input/input.h"
#include "input/input_held.h"
#include "layout/layout_request.h"
#include "lifecycle.h"
#include "logins/connection_log.h"
#include "logins/logins.h"
#include "mac_shadow.h"
#include "server/shadow/ext/peer_hooks.h"
#include "server/shadow/ext/shadow_ext.h"
#include "sharing/clipboard.h"

extern "C" const char* ShadowSubsystemName(void) {
    return "Mac";
}

extern "C" int ShadowSubsystemEntry(RDP_SHADOW_ENTRY_POINTS* pEntryPoints) {
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

namespace {
// Every end of a connection: what it holds pressed goes up, then the login
// bookkeeping of a failed NLA attempt, then the connection log's line.
void peerEnd(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    mac_shadow_input_client_ended(subsystem, client);
    mac_control::clientEnded(client);
    mac_shadow_peer_end(subsystem, client);
    // What the extension layer counted (nothing for a connection it does not
    // track; frames only on the graphics pipeline): left out when unknown.
    const UINT64 frames = shadow_ext_client_frames_sent(client);
    const UINT64 bytes = shadow_ext_client_bytes_sent(client);
    mac_connection_log_session_end(client, frames ? static_cast<int64_t>(frames) : -1,
                                   bytes ? static_cast<int64_t>(bytes) : -1);
}
// The login is done and the client is about to be activated: the control
// channel learns of it here, and holds it when the host is to be asked.
// Only a client let in with control resizes the desktop, so a held one
// waits for clientReleased and a refused one never changed anything.
BOOL clientConnect(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    if (!mac_shadow_client_connect_session(subsystem, client))
        return FALSE;
    mac_control::clientConnecting(reinterpret_cast<macShadowSubsystem*>(subsystem), client,
                                  mac_now_ms());
    if (mac_control::mayShapeDesktop(client))
        mac_shadow_client_connect_size(subsystem, client);
    return TRUE;
}
// The host let a held client in: on its own thread, before its activation,
// its size is taken as at an unasked connect (not for view-only).
void clientReleased(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    if (mac_control::mayShapeDesktop(client))
        mac_shadow_client_connect_size(subsystem, client);
}
// The display-control channel's layouts, from clients that may shape the
// desktop only.
BOOL displayLayout(rdpShadowSubsystem* subsystem, rdpShadowClient* client, UINT32 count,
                   const DISPLAY_CONTROL_MONITOR_LAYOUT* monitors) {
    if (client && !mac_control::mayShapeDesktop(client)) {
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                   "client layout ignored: the client is waiting for the host's answer or is "
                   "view-only, and only a client in control resizes the desktop");
        return TRUE;
    }
    return mac_shadow_display_layout(subsystem, client, count, monitors);
}
} // namespace

void mac_shadow_fill_callbacks(macShadowSubsystem* record) {
    mac_shadow_input_fill_callbacks(record);
    record->common.base.Authenticate = mac_shadow_authenticate;
    record->common.PeerInit = mac_shadow_peer_init;
    record->common.PeerEnd = peerEnd;
    mac_shadow_clipboard_fill_callbacks(record);
    record->common.base.ClientConnect = clientConnect;
    record->common.DisplayLayout = displayLayout;
    record->common.ClientReleased = clientReleased;
}

namespace {
const MacShadowHost kLibraryHost = {shadow_subsystem_frame_update, shadow_encoder_preferred_fps,
                                    shadow_encoder_inflight_frames, shadow_ext_screen_resize,
                                    shadow_client_boardcast_quit};
std::atomic<const MacShadowHost*> gHost{&kLibraryHost};
} // namespace

const MacShadowHost& mac_shadow_host(void) {
    return *gHost.load();
}

void mac_shadow_set_host_for_tests(const MacShadowHost* host) {
    gHost.store(host ? host : &kLibraryHost);
}
