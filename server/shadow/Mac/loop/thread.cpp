#include "thread.h"

#include <algorithm>

#include <winpr/collections.h>
#include <winpr/synch.h>

#include "base/clock.h"
#include "base/log.h"
#include "control/control_sessions.h"
#include "core/desktop_session.h"
#include "frames.h"
#include "input/cursor_forward.h"
#include "platform/platform.h"
#include "repaint.h"
#include "server/shadow/ext/frame_pacing.h"
#include "sharing/clipboard.h"
#include "sharing/sound.h"
#include "stats_file.h"

namespace {

constexpr UINT32 kStartFrameRate = 16;

void logNewClient(macShadowSubsystem* record, uint64_t now) {
    record->sessions += 1;
    MAC_LOG_FN(WLOG_INFO, "mac_shadow_subsystem_thread",
               "client ready, sending full frames for a few seconds");
    mac_shadow_repaint_on_connect(record, now);
}

// Waits for messages until the deadline; false when the quit message came.
bool waitForDeadline(macShadowSubsystem* record, uint64_t deadline) {
    wMessageQueue* queue = record->common.base.MsgPipe->In;
    HANDLE event = MessageQueue_Event(queue);
    for (;;) {
        const uint64_t now = mac_now_ms();
        const DWORD timeout = deadline > now ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(event, timeout) != WAIT_OBJECT_0)
            return true;
        wMessage message = {};
        if (MessageQueue_Peek(queue, &message, TRUE) > 0 &&
            !mac_shadow_subsystem_process_message(record, &message))
            return false;
        if (mac_now_ms() > deadline)
            return true;
    }
}

} // namespace

extern "C" bool mac_shadow_subsystem_process_message(macShadowSubsystem* record,
                                                     wMessage* message) {
    if (message->id == WMQ_QUIT)
        return false;
    if (message->id == SHADOW_MSG_IN_REFRESH_REQUEST_ID)
        mac_shadow_push_last_frame(record);
    else if (message->id == SHADOW_EXT_MSG_HELD_CHANGES_ID)
        mac_shadow_publish_held_changes(record);
    else
        MAC_LOG_FN(WLOG_ERROR, "mac_shadow_subsystem_process_message", "Unknown message id: %u",
                   message->id);
    if (message->Free)
        message->Free(message);
    return true;
}

void mac_shadow_loop_turn(macShadowSubsystem* record, uint64_t now) {
    if (!record->tearingDown.load())
        mac_shadow_plan_handover(record, now);
    rdpShadowServer* server = record->common.base.server;
    if (!server || !server->clients)
        return;
    const ClientScan scan = mac_shadow_scan_clients(record);
    mac_shadow_session_step(record, scan);
    mac_shadow_idle_and_awake(record, scan, now);
    mac_shadow_last_client_check(record, scan, now);
    mac_shadow_clipboard_poll(record, now, scan.newClient);
    mac_shadow_sound_describe_listeners(record);
    if (scan.active > 0 && shadow_ext_server_side_cursor(server))
        mac_shadow_cursor_update(record, now, scan.pointerSizeClass);
    if (scan.newClient)
        logNewClient(record, now);
    record->activeClients = scan.active;
    mac_shadow_adaptive_handover(record, scan.active);
    if (scan.active > 0) {
        mac_shadow_scheduled_repaints(record, now);
        mac_shadow_ack_check(record, now);
    }
    mac_shadow_stats_file_tick(record, now);
    mac_control::tick(record, now);
    corvane::platform::current().events().settle();
}

extern "C" DWORD WINAPI mac_shadow_subsystem_thread(LPVOID arg) {
    auto* record = static_cast<macShadowSubsystem*>(arg);
    rdpShadowSubsystem* base = &record->common.base;
    mac_shadow_set_frame_rate(base, kStartFrameRate);
    uint64_t deadline = mac_now_ms() + 1000 / kStartFrameRate;
    for (;;) {
        if (!waitForDeadline(record, deadline))
            break;
        mac_shadow_loop_turn(record, mac_now_ms());
        const UINT32 rate = std::max<UINT32>(mac_shadow_frame_rate(base), 1);
        deadline += 1000 / rate;
    }
    ExitThread(0);
    return 0;
}
