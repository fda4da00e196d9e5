#include "gfx_codec.h"

#include <atomic>

#include <freerdp/codec/h264.h>
#include <freerdp/log.h>
#include <freerdp/peer.h>
#include <freerdp/server/rdpgfx.h>
#include <freerdp/settings.h>

#include "callback_slot.h"
#include "peer_state.h"

#define TAG SERVER_TAG("shadow.ext.gfx")

namespace {

// The library's own functions; every client's graphics context has the same.
std::atomic<pfnShadowClientConnect> gLibraryConnect{nullptr};
std::atomic<psRdpgfxServerOpen> gLibraryOpen{nullptr};
std::atomic<psRdpgfxCapsAdvertise> gLibraryAdvertise{nullptr};
std::atomic<psRdpgfxCapsConfirm> gLibraryConfirm{nullptr};
std::atomic<psRdpgfxSurfaceFrameCommand> gLibraryFrame{nullptr};

// A client's capability exchange and its frames run on that client's thread:
// the advertisement being answered, and the codec last logged, live there.
thread_local const RDPGFX_CAPS_ADVERTISE_PDU* tAdvertised = nullptr;
thread_local const RdpgfxServerContext* tLoggedContext = nullptr;
thread_local UINT16 tLoggedCodec = 0;
thread_local int tAside = 0;

bool encoderAvailable() {
    static const bool available = [] {
        H264_CONTEXT* h264 = h264_context_new(TRUE);
        const bool ok = h264 && h264_context_reset(h264, 64, 64);
        h264_context_free(h264);
        return ok;
    }();
    return available;
}

rdpShadowClient* clientOf(RdpgfxServerContext* context) {
    return context ? static_cast<rdpShadowClient*>(context->custom) : nullptr;
}

const char* peerName(rdpShadowClient* client) {
    const freerdp_peer* peer = client ? client->context.peer : nullptr;
    return peer && peer->hostname[0] ? peer->hostname : "?";
}

bool advertisedFlags(UINT32 version, UINT32* flags) {
    if (!tAdvertised || !tAdvertised->capsSets)
        return false;
    for (UINT16 i = 0; i < tAdvertised->capsSetCount; ++i) {
        if (tAdvertised->capsSets[i].version == version) {
            *flags = tAdvertised->capsSets[i].flags;
            return true;
        }
    }
    return false;
}

UINT capsConfirm(RdpgfxServerContext* context, const RDPGFX_CAPS_CONFIRM_PDU* pdu) {
    const psRdpgfxCapsConfirm library = gLibraryConfirm.load();
    rdpShadowClient* client = clientOf(context);
    if (!library)
        return ERROR_INTERNAL_ERROR;
    if (!client || !pdu || !pdu->capsSet || !client->context.settings || !client->server)
        return library(context, pdu);
    rdpSettings* settings = client->context.settings;
    RDPGFX_CAPSET caps = *pdu->capsSet;
    UINT32 advertised = caps.flags;
    const bool known = advertisedFlags(caps.version, &advertised);
    const BOOL avc444 = freerdp_settings_get_bool(settings, FreeRDP_GfxAVC444) ||
                        freerdp_settings_get_bool(settings, FreeRDP_GfxAVC444v2);
    const ShadowExtGfxChoice choice = shadow_ext_gfx_choose(
        caps.version, caps.flags, advertised, avc444,
        freerdp_settings_get_bool(settings, FreeRDP_GfxH264),
        known && freerdp_settings_get_bool(client->server->settings, FreeRDP_GfxH264),
        known && encoderAvailable());
    caps.flags = choice.flags;
    if (choice.avc420 && !freerdp_settings_set_bool(settings, FreeRDP_GfxH264, TRUE))
        return ERROR_INTERNAL_ERROR;
    const char* codec = avc444 ? "H.264 AVC444" : choice.avc420 ? "H.264 AVC420" : "no H.264";
    WLog_INFO(TAG, "graphics pipeline %" PRIu32 ".%" PRIu32 " agreed with %s: %s",
              (caps.version >> 16) & 0xFFFF, (caps.version >> 8) & 0xFF, peerName(client), codec);
    RDPGFX_CAPS_CONFIRM_PDU confirm = *pdu;
    confirm.capsSet = &caps;
    return library(context, &confirm);
}

UINT capsAdvertise(RdpgfxServerContext* context, const RDPGFX_CAPS_ADVERTISE_PDU* pdu) {
    const psRdpgfxCapsAdvertise library = gLibraryAdvertise.load();
    if (!library)
        return CHANNEL_RC_UNSUPPORTED_VERSION;
    tAdvertised = pdu;
    const UINT status = library(context, pdu);
    tAdvertised = nullptr;
    return status;
}

// The library sets its advertisement handler just before it opens the
// channel: that is where it can be wrapped.
BOOL gfxOpen(RdpgfxServerContext* context) {
    const psRdpgfxServerOpen library = gLibraryOpen.load();
    if (!library)
        return FALSE;
    if (context && context->CapsAdvertise && context->CapsAdvertise != capsAdvertise) {
        gLibraryAdvertise.store(context->CapsAdvertise);
        context->CapsAdvertise = capsAdvertise;
    }
    return library(context);
}

UINT surfaceFrameCommand(RdpgfxServerContext* context, const RDPGFX_SURFACE_COMMAND* cmd,
                         const RDPGFX_START_FRAME_PDU* startFrame,
                         const RDPGFX_END_FRAME_PDU* endFrame) {
    const psRdpgfxSurfaceFrameCommand library = gLibraryFrame.load();
    if (!library)
        return ERROR_INTERNAL_ERROR;
    if (cmd && tAside == 0 && (tLoggedContext != context || tLoggedCodec != cmd->codecId)) {
        tLoggedContext = context;
        tLoggedCodec = static_cast<UINT16>(cmd->codecId);
        WLog_INFO(TAG, "frames to %s are encoded with %s", peerName(clientOf(context)),
                  shadow_ext_gfx_codec_name(tLoggedCodec));
    }
    if (rdpShadowClient* client = startFrame ? clientOf(context) : nullptr)
        if (const auto watch = shadow_ext::peerWatch(client->context.peer))
            watch->framesSent.fetch_add(1, std::memory_order_relaxed);
    return library(context, cmd, startFrame, endFrame);
}

// Runs on the client's thread inside its post-connect, after the library
// made the client's graphics context and before the channel opens.
BOOL clientConnect(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    const pfnShadowClientConnect library = gLibraryConnect.load();
    const BOOL accepted = library ? library(subsystem, client) : TRUE;
    if (!accepted || !client || !client->rdpgfx)
        return accepted;
    RdpgfxServerContext* gfx = client->rdpgfx;
    shadow_ext_wrap_slot(gfx->Open, gLibraryOpen, gfxOpen);
    shadow_ext_wrap_slot(gfx->CapsAdvertise, gLibraryAdvertise, capsAdvertise);
    shadow_ext_wrap_slot(gfx->CapsConfirm, gLibraryConfirm, capsConfirm);
    shadow_ext_wrap_slot(gfx->SurfaceFrameCommand, gLibraryFrame, surfaceFrameCommand);
    return accepted;
}

} // namespace

extern "C" ShadowExtGfxChoice shadow_ext_gfx_choose(UINT32 version, UINT32 confirmedFlags,
                                                    UINT32 advertisedFlags, BOOL libraryAvc444,
                                                    BOOL libraryAvc420, BOOL serverAvc420,
                                                    BOOL encoderAvailable) {
    ShadowExtGfxChoice choice{confirmedFlags, libraryAvc420};
    // Before 10.0 the library's answer follows the client's AVC420 flag.
    if (version < RDPGFX_CAPVERSION_10 || libraryAvc444 || libraryAvc420)
        return choice;
    if ((advertisedFlags & RDPGFX_CAPS_FLAG_AVC_DISABLED) || !serverAvc420 || !encoderAvailable)
        return choice;
    choice.flags &= ~RDPGFX_CAPS_FLAG_AVC_DISABLED;
    choice.avc420 = TRUE;
    return choice;
}

extern "C" void shadow_ext_gfx_aside_begin(void) {
    ++tAside;
}

extern "C" void shadow_ext_gfx_aside_end(void) {
    --tAside;
}

extern "C" const char* shadow_ext_gfx_codec_name(UINT16 codecId) {
    switch (codecId) {
    case RDPGFX_CODECID_UNCOMPRESSED:
        return "uncompressed";
    case RDPGFX_CODECID_CAVIDEO:
        return "RemoteFX";
    case RDPGFX_CODECID_CLEARCODEC:
        return "ClearCodec";
    case RDPGFX_CODECID_PLANAR:
        return "planar";
    case RDPGFX_CODECID_AVC420:
        return "AVC420";
    case RDPGFX_CODECID_ALPHA:
        return "alpha";
    case RDPGFX_CODECID_AVC444:
        return "AVC444";
    case RDPGFX_CODECID_AVC444v2:
        return "AVC444v2";
    case RDPGFX_CODECID_CAPROGRESSIVE:
    case RDPGFX_CODECID_CAPROGRESSIVE_V2:
        return "progressive";
    default:
        return "unknown";
    }
}

extern "C" BOOL shadow_ext_install_gfx_codec(rdpShadowServer* server) {
    if (!server || !server->subsystem)
        return FALSE;
    rdpShadowSubsystem* subsystem = server->subsystem;
    if (subsystem->ClientConnect != clientConnect) {
        gLibraryConnect.store(subsystem->ClientConnect);
        subsystem->ClientConnect = clientConnect;
    }
    return TRUE;
}
