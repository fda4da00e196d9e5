#include "frame_pacing.h"

#include <atomic>
#include <cinttypes>
#include <map>
#include <memory>
#include <mutex>

#include <dlfcn.h>

#include <freerdp/channels/rdpgfx.h>
#include <freerdp/codec/region.h>
#include <freerdp/log.h>
#include <freerdp/server/rdpgfx.h>
#include <winpr/collections.h>

#include "base/clock.h"
#include "callback_slot.h"
#include "pacing_rule.h"
#include "shadow_library_text.h"

#define TAG SERVER_TAG("shadow.ext.pacing")

namespace {

std::atomic<rdpShadowServer*> gServer{nullptr};
std::atomic<pfnShadowClientConnect> gLibraryConnect{nullptr};
std::atomic<pfnShadowClientDisconnect> gLibraryDisconnect{nullptr};
std::atomic<psRdpgfxSurfaceFrameCommand> gNextFrame{nullptr};
std::atomic<psRdpgfxFrameAcknowledge> gNextAck{nullptr};

// A client's rule: its frames go out on the client's thread, its
// acknowledgements arrive on the graphics channel's.
struct Pacer {
    std::mutex lock;
    ShadowExtPacingRule rule;
};

std::mutex gPacersLock;
std::map<const rdpShadowClient*, std::shared_ptr<Pacer>> gPacers;

// The client whose updates this thread sends (set in its connect step).
thread_local rdpShadowClient* tClient = nullptr;

std::shared_ptr<Pacer> pacerOf(const rdpShadowClient* client) {
    std::lock_guard<std::mutex> guard(gPacersLock);
    const auto found = gPacers.find(client);
    return found == gPacers.end() ? nullptr : found->second;
}

// Asks the subsystem for a publication: the client's held changes go out
// with it. Never waits (the library's publication waits for this client).
void askForPublication() {
    rdpShadowServer* server = gServer.load();
    rdpShadowSubsystem* subsystem = server ? server->subsystem : nullptr;
    if (!subsystem || !subsystem->MsgPipe)
        return;
    wMessage message = {};
    message.id = SHADOW_EXT_MSG_HELD_CHANGES_ID;
    MessageQueue_Dispatch(subsystem->MsgPipe->In, &message);
}

UINT frameAcknowledge(RdpgfxServerContext* context, const RDPGFX_FRAME_ACKNOWLEDGE_PDU* pdu) {
    const psRdpgfxFrameAcknowledge next = gNextAck.load();
    const UINT status = next ? next(context, pdu) : CHANNEL_RC_OK;
    const auto pacer = context && pdu ? pacerOf(static_cast<rdpShadowClient*>(context->custom))
                                      : nullptr;
    if (!pacer)
        return status;
    bool release = false;
    {
        std::lock_guard<std::mutex> guard(pacer->lock);
        release = shadow_ext_pacing_rule_acked(
            &pacer->rule, pdu->frameId, pdu->queueDepth == SUSPEND_FRAME_ACKNOWLEDGEMENT,
            mac_now_ms());
        const ShadowExtPacingRule& rule = pacer->rule;
        WLog_DBG(TAG,
                 "ack %" PRIu32 " depth %" PRIu32 " after %" PRIu64 " ms (unqueued %" PRIu64
                 " ms, %" PRIu32 " frames per 1000 s): %" PRIu32 " in flight of %" PRIu32 "%s",
                 pdu->frameId, pdu->queueDepth, rule.lastRoundTrip,
                 shadow_ext_pacing_rule_base_ms(&rule), rule.rateMilli,
                 shadow_ext_pacing_rule_inflight(&rule), rule.limit,
                 release ? ", held changes go" : "");
    }
    if (release)
        askForPublication();
    return status;
}

UINT surfaceFrameCommand(RdpgfxServerContext* context, const RDPGFX_SURFACE_COMMAND* cmd,
                         const RDPGFX_START_FRAME_PDU* startFrame,
                         const RDPGFX_END_FRAME_PDU* endFrame) {
    const psRdpgfxSurfaceFrameCommand next = gNextFrame.load();
    if (!next)
        return ERROR_INTERNAL_ERROR;
    // The library sets its acknowledgement handler when it opens the
    // channel; no acknowledgement comes before the first frame.
    if (context)
        shadow_ext_wrap_slot(context->FrameAcknowledge, gNextAck, frameAcknowledge);
    if (startFrame && context) {
        if (const auto pacer = pacerOf(static_cast<rdpShadowClient*>(context->custom))) {
            std::lock_guard<std::mutex> guard(pacer->lock);
            shadow_ext_pacing_rule_sent(&pacer->rule, startFrame->frameId, mac_now_ms());
            WLog_DBG(TAG, "frame %" PRIu32 " out: %" PRIu32 " in flight", startFrame->frameId,
                     shadow_ext_pacing_rule_inflight(&pacer->rule));
        }
    }
    return next(context, cmd, startFrame, endFrame);
}

// Runs on the client's thread inside its post-connect, before the graphics
// channel opens.
BOOL clientConnect(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    const pfnShadowClientConnect library = gLibraryConnect.load();
    const BOOL accepted = library ? library(subsystem, client) : TRUE;
    if (!accepted || !client || !client->rdpgfx)
        return accepted;
    shadow_ext_wrap_slot(client->rdpgfx->SurfaceFrameCommand, gNextFrame, surfaceFrameCommand);
    if (client->rdpgfx->SurfaceFrameCommand != surfaceFrameCommand)
        return accepted;
    {
        std::lock_guard<std::mutex> guard(gPacersLock);
        gPacers[client] = std::make_shared<Pacer>();
    }
    tClient = client;
    return accepted;
}

void clientDisconnect(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    {
        std::lock_guard<std::mutex> guard(gPacersLock);
        gPacers.erase(client);
    }
    if (const pfnShadowClientDisconnect library = gLibraryDisconnect.load())
        library(subsystem, client);
}

// Gives the gathered region back to the client: the library adds the next
// frame's changes to it and sends both at its next update.
void keepForLater(rdpShadowClient* client, const REGION16* region) {
    UINT32 count = 0;
    const RECTANGLE_16* rects = region16_rects(region, &count);
    EnterCriticalSection(&client->lock);
    for (UINT32 i = 0; rects && i < count; ++i)
        region16_union_rect(&client->invalidRegion, &client->invalidRegion, &rects[i]);
    LeaveCriticalSection(&client->lock);
}

} // namespace

extern "C" BOOL shadow_ext_install_frame_pacing(rdpShadowServer* server) {
    if (!server || !server->subsystem)
        return FALSE;
    gServer.store(server);
    rdpShadowSubsystem* subsystem = server->subsystem;
    if (subsystem->ClientConnect != clientConnect) {
        gLibraryConnect.store(subsystem->ClientConnect);
        subsystem->ClientConnect = clientConnect;
    }
    if (subsystem->ClientDisconnect != clientDisconnect) {
        gLibraryDisconnect.store(subsystem->ClientDisconnect);
        subsystem->ClientDisconnect = clientDisconnect;
    }
    WLog_INFO(TAG,
              "graphics-pipeline frames are paced: a client with %u to %u frames unacknowledged, "
              "as many as its link carries in a round trip (%u at first), gets its changes in "
              "one frame after its next acknowledgement",
              kShadowExtPacingLeastLimit, kShadowExtPacingMostLimit, kShadowExtPacingLimit);
    return TRUE;
}

// The library asks whether a client's gathered update is empty just before
// encoding it: the one place where an update can wait, its region whole.
extern "C" BOOL region16_is_empty(const REGION16* region) {
    using Fn = BOOL (*)(const REGION16*);
    static const Fn library = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "region16_is_empty"));
    const BOOL empty = library(region);
    rdpShadowClient* client = tClient;
    if (empty || !client || !gServer.load(std::memory_order_relaxed) ||
        !shadow_ext_in_shadow_library(__builtin_return_address(0)))
        return empty;
    const auto pacer = pacerOf(client);
    if (!pacer)
        return empty;
    {
        std::lock_guard<std::mutex> guard(pacer->lock);
        if (shadow_ext_pacing_rule_offer(&pacer->rule, mac_now_ms()) == SHADOW_EXT_PACING_SEND)
            return empty;
        WLog_DBG(TAG, "changes held: %" PRIu32 " in flight",
                 shadow_ext_pacing_rule_inflight(&pacer->rule));
    }
    keepForLater(client, region);
    return TRUE;
}
