#include "changed_region.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <tuple>
#include <utility>

#include <dlfcn.h>

#include <freerdp/codec/planar.h>
#include <freerdp/codec/progressive.h>
#include <freerdp/codec/rfx.h>
#include <freerdp/freerdp.h>
#include <freerdp/log.h>
#include <freerdp/server/rdpgfx.h>
#include <freerdp/settings.h>

#include "callback_slot.h"
#include "gfx_codec.h"
#include "hook_gate.h"
#include "planar_check.h"
#include "planar_room.h"
#include "scroll_copy.h"
#include "shadow_library_text.h"
#include "solid_tiles.h"

#define TAG SERVER_TAG("shadow.ext.region")

namespace {

// More rectangles than this in one planar frame go as their bounding box.
constexpr size_t kMaxPlanarRects = 256;
// At most this many planar strips in a RemoteFX frame.
constexpr size_t kMostStrips = 32;

// Set once the encoding is on. RemoteFX is handed pixels without their
// format: the surface's, which exists by the time clients are sent frames.
std::atomic<rdpShadowServer*> gServer{nullptr};
std::atomic<pfnShadowClientConnect> gLibraryConnect{nullptr};
std::atomic<psRdpgfxCreateSurface> gNextCreateSurface{nullptr};
std::atomic<psRdpgfxSurfaceFrameCommand> gNextFrame{nullptr};

struct PlanarFree {
    void operator()(BITMAP_PLANAR_CONTEXT* planar) const {
        freerdp_bitmap_planar_context_free(planar);
    }
};

// The library's whole-desktop planar image, kept for our per-rectangle
// commands; the surface lock the library holds keeps its pixels still.
struct DeferredPlanar {
    const BYTE* data = nullptr; // none set aside
    bool active() const { return data != nullptr; }
    UINT32 format = 0;
    UINT32 stride = 0;
    std::vector<RECTANGLE_16> rects;
};

// Changed tiles of one colour, by colour: sent as fills, not encoded.
struct ColourOrder {
    bool operator()(const RDPGFX_COLOR32& a, const RDPGFX_COLOR32& b) const {
        return std::tie(a.R, a.G, a.B) < std::tie(b.R, b.G, b.B);
    }
};
using SolidFills = std::map<RDPGFX_COLOR32, std::vector<RECTANGLE_16>, ColourOrder>;

// A client's updates, from its region to its frame command, run on that
// client's thread inside one call of the library: the state lives there.
struct ThreadState {
    bool armed = false; // `rects` is the region of the update being sent
    std::vector<RECTANGLE_16> rects;
    bool hooked = false;       // this thread's frame commands pass through us
    bool surfaceFresh = false; // the client's surface was just created
    bool planarNext = false;   // the library set up its graphics planar image
    DeferredPlanar deferred;
    DeferredPlanar strips; // thin rectangles of a RemoteFX frame, sent planar
    SolidFills solids; // fills that go before this frame's command
    std::vector<ShadowExtMove> moves; // copies that open this frame
    ShadowExtShownPicture shown;      // what this thread's planar client shows
    bool copiedBefore = false;        // a scroll went to this client as a copy
    bool stripsBefore = false;        // thin changes went to it as planar
    std::unique_ptr<BITMAP_PLANAR_CONTEXT, PlanarFree> planar;
    // The planar context whose orientation was last set on this thread; the
    // library sets it just before each graphics-pipeline encode.
    const BITMAP_PLANAR_CONTEXT* orientedContext = nullptr;
    BOOL topdown = FALSE;
};
thread_local ThreadState tState;

// Only the shadow library's own calls are steered, once the encoding is on;
// everyone else's, ours included, go straight through.
bool calledByShadowLibrary(const void* returnAddress) {
    return gServer.load(std::memory_order_relaxed) && shadow_ext_in_shadow_library(returnAddress);
}

UINT32 surfaceFormat() {
    const rdpShadowServer* server = gServer.load();
    return server && server->surface ? server->surface->format : 0;
}

bool scrollCopies() {
    static const bool on = shadow_ext_hook_on(SHADOW_EXT_SCROLL_COPY);
    return on;
}

template <typename Fn> Fn nextDefinition(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// The surface's first frame goes whole; every other one may be cut down
// when the library's region for it was seen and our frame command sends it
// (with the fills, and for planar the rectangles).
bool takeRegion(std::vector<RECTANGLE_16>* rects) {
    ThreadState& state = tState;
    const bool usable = state.armed && state.hooked && !state.surfaceFresh;
    state.armed = false;
    state.surfaceFresh = false;
    if (usable)
        rects->swap(state.rects);
    return usable;
}

// Moves the tiles of one colour to this frame's fills; returns the rest.
std::vector<RECTANGLE_16> takeSolids(const std::vector<RECTANGLE_16>& rects, const BYTE* data,
                                     UINT32 stride, UINT32 format) {
    if (!data || FreeRDPGetBytesPerPixel(format) != 4)
        return rects;
    ShadowExtTiles tiles = shadow_ext_split_solid_tiles(rects, data, stride);
    for (const ShadowExtSolid& solid : tiles.solids) {
        BYTE red = 0;
        BYTE green = 0;
        BYTE blue = 0;
        FreeRDPSplitColor(FreeRDPReadColor(reinterpret_cast<const BYTE*>(&solid.pixel), format),
                          format, &red, &green, &blue, nullptr, nullptr);
        tState.solids[{blue, green, red, 0xFF}].push_back(solid.rect);
    }
    return std::move(tiles.rest);
}

// The changed rectangles (clipped) less the scrolls this thread's client can
// take as copies; the copies go to this frame's moves.
std::vector<RECTANGLE_16> withoutMoves(const std::vector<RECTANGLE_16>& clipped, const BYTE* data,
                                       UINT32 format, UINT32 width, UINT32 height, UINT32 stride) {
    if (!scrollCopies())
        return clipped;
    return tState.shown.part(clipped, data, format, width, height, stride, &tState.moves);
}

// The rectangles a tile codec encodes: the changed ones less the scrolls
// that go as copies and the tiles that go as fills. When nothing is left the
// codec still gets one pixel, so that the library sends the frame the copies
// and fills travel in.
std::vector<RECTANGLE_16> encodedRects(const std::vector<RECTANGLE_16>& rects, const BYTE* data,
                                       UINT32 stride, UINT32 format, UINT32 width, UINT32 height) {
    const std::vector<RECTANGLE_16> clipped =
        shadow_ext_clip_rects(rects.data(), rects.size(), width, height, SIZE_MAX);
    if (clipped.empty())
        return {};
    std::vector<RECTANGLE_16> rest =
        takeSolids(withoutMoves(clipped, data, format, width, height, stride), data, stride, format);
    if (rest.empty()) {
        const RECTANGLE_16& first = clipped.front();
        rest.push_back({first.left, first.top, static_cast<UINT16>(first.left + 1),
                        static_cast<UINT16>(first.top + 1)});
    }
    return rest;
}

// A frame went to a tile-codec client without our cut: when it covered the
// whole desktop it is what the client shows from now on.
void wholeFrameSent(bool whole, const BYTE* data, UINT32 format, UINT32 width, UINT32 height,
                    UINT32 stride) {
    if (whole && scrollCopies())
        tState.shown.whole(data, format, width, height, stride);
    else
        tState.shown.forget();
}

bool coversDesktop(const RECTANGLE_16& r, UINT32 width, UINT32 height) {
    return r.left == 0 && r.top == 0 && r.right >= width && r.bottom >= height;
}

// One fill per colour, with all its rectangles.
UINT sendSolids(RdpgfxServerContext* context, UINT16 surfaceId, SolidFills& solids) {
    for (auto& [colour, rects] : solids) {
        for (size_t at = 0; at < rects.size(); at += UINT16_MAX) {
            const size_t count = std::min<size_t>(UINT16_MAX, rects.size() - at);
            RDPGFX_SOLID_FILL_PDU fill = {surfaceId, colour, static_cast<UINT16>(count),
                                          rects.data() + at};
            const UINT status = context->SolidFill(context, &fill);
            if (status != CHANNEL_RC_OK)
                return status;
        }
    }
    return CHANNEL_RC_OK;
}

using PlanarResetFn = BOOL (*)(BITMAP_PLANAR_CONTEXT*, UINT32, UINT32);

PlanarResetFn libraryPlanarReset() {
    static const auto library =
        nextDefinition<PlanarResetFn>("freerdp_bitmap_planar_context_reset");
    return library;
}

BITMAP_PLANAR_CONTEXT* threadPlanar(rdpShadowClient* client) {
    ThreadState& state = tState;
    if (!state.planar) {
        DWORD flags = PLANAR_FORMAT_HEADER_RLE;
        if (client &&
            freerdp_settings_get_bool(client->context.settings, FreeRDP_DrawAllowSkipAlpha))
            flags |= PLANAR_FORMAT_HEADER_NA;
        state.planar.reset(freerdp_bitmap_planar_context_new(flags, 64, 64));
    }
    return state.planar.get();
}

UINT sendPlanarRects(RdpgfxServerContext* context, const RDPGFX_SURFACE_COMMAND* cmd,
                     const RDPGFX_START_FRAME_PDU* startFrame, const RDPGFX_END_FRAME_PDU* endFrame,
                     const DeferredPlanar& image, psRdpgfxSurfaceFrameCommand next) {
    BITMAP_PLANAR_CONTEXT* planar = threadPlanar(static_cast<rdpShadowClient*>(context->custom));
    if (!planar)
        return CHANNEL_RC_NO_MEMORY;
    const size_t bytesPerPixel = FreeRDPGetBytesPerPixel(image.format);
    for (size_t i = 0; i < image.rects.size(); ++i) {
        const RECTANGLE_16& r = image.rects[i];
        const UINT32 w = r.right - r.left;
        const UINT32 h = r.bottom - r.top;
        if (!shadow_ext_planar_reset_with_room(libraryPlanarReset(), planar, w, h))
            return CHANNEL_RC_NO_MEMORY;
        freerdp_planar_topdown_image(planar, TRUE);
        const BYTE* src =
            image.data + size_t{r.top} * image.stride + size_t{r.left} * bytesPerPixel;
        RDPGFX_SURFACE_COMMAND part = *cmd;
        part.left = r.left;
        part.top = r.top;
        part.right = r.right;
        part.bottom = r.bottom;
        part.length = 0;
        part.data = freerdp_bitmap_compress_planar(planar, src, image.format, w, h, image.stride,
                                                   nullptr, &part.length);
        if (!part.data)
            return ERROR_INTERNAL_ERROR;
        const UINT status = next(context, &part, i == 0 ? startFrame : nullptr,
                                 i + 1 == image.rects.size() ? endFrame : nullptr);
        std::free(part.data);
        if (status != CHANNEL_RC_OK)
            return status;
    }
    return CHANNEL_RC_OK;
}

// A RemoteFX frame's thin rectangles as planar commands, then the frame's own
// command unless the library was given nothing to encode.
UINT sendStrips(RdpgfxServerContext* context, const RDPGFX_SURFACE_COMMAND* cmd,
                const RDPGFX_END_FRAME_PDU* endFrame, const DeferredPlanar& strips,
                psRdpgfxSurfaceFrameCommand next) {
    if (!std::exchange(tState.stripsBefore, true))
        WLog_INFO(TAG, "thin changes of RemoteFX frames go to the client as planar (first: %ux%u)",
                  unsigned(strips.rects.front().right - strips.rects.front().left),
                  unsigned(strips.rects.front().bottom - strips.rects.front().top));
    RDPGFX_SURFACE_COMMAND planar = *cmd;
    planar.codecId = RDPGFX_CODECID_PLANAR;
    const bool tilesToo = cmd->length > 0;
    shadow_ext_gfx_aside_begin();
    const UINT status =
        sendPlanarRects(context, &planar, nullptr, tilesToo ? nullptr : endFrame, strips, next);
    shadow_ext_gfx_aside_end();
    if (status != CHANNEL_RC_OK || !tilesToo)
        return status;
    return next(context, cmd, nullptr, endFrame);
}

UINT surfaceFrameCommand(RdpgfxServerContext* context, const RDPGFX_SURFACE_COMMAND* cmd,
                         const RDPGFX_START_FRAME_PDU* startFrame,
                         const RDPGFX_END_FRAME_PDU* endFrame) {
    const psRdpgfxSurfaceFrameCommand next = gNextFrame.load();
    if (!next)
        return ERROR_INTERNAL_ERROR;
    const DeferredPlanar image = std::exchange(tState.deferred, {});
    const DeferredPlanar strips = std::exchange(tState.strips, {});
    SolidFills solids = std::exchange(tState.solids, {});
    const std::vector<ShadowExtMove> moves = std::exchange(tState.moves, {});
    if (!cmd || (cmd->codecId == RDPGFX_CODECID_PLANAR) != image.active())
        return next(context, cmd, startFrame, endFrame);
    if (solids.empty() && moves.empty() && !strips.active()) {
        if (!image.active())
            return next(context, cmd, startFrame, endFrame);
        if (!image.rects.empty())
            return sendPlanarRects(context, cmd, startFrame, endFrame, image, next);
    }
    // The copies and fills open the frame; the encoded rectangles, if any,
    // close it (a frame of nothing still goes, to be acknowledged).
    if (!moves.empty() && !std::exchange(tState.copiedBefore, true)) {
        const ShadowExtMove& first = moves.front();
        WLog_INFO(TAG, "scrolls go to the client as copies inside its surface (first: %d rows, %s)",
                  first.source.bottom - first.source.top,
                  first.toX == first.source.left  ? "up or down"
                  : first.toY == first.source.top ? "sideways"
                                                  : "diagonally");
    }
    UINT status = startFrame ? context->StartFrame(context, startFrame) : CHANNEL_RC_OK;
    if (status == CHANNEL_RC_OK)
        status = shadow_ext_send_moves(context, cmd->surfaceId, moves);
    if (status == CHANNEL_RC_OK)
        status = sendSolids(context, cmd->surfaceId, solids);
    if (status != CHANNEL_RC_OK)
        return status;
    if (strips.active())
        return sendStrips(context, cmd, endFrame, strips, next);
    if (!image.active())
        return next(context, cmd, nullptr, endFrame);
    if (image.rects.empty())
        return endFrame ? context->EndFrame(context, endFrame) : CHANNEL_RC_OK;
    return sendPlanarRects(context, cmd, nullptr, endFrame, image, next);
}

UINT createSurface(RdpgfxServerContext* context, const RDPGFX_CREATE_SURFACE_PDU* pdu) {
    const psRdpgfxCreateSurface next = gNextCreateSurface.load();
    if (!next)
        return ERROR_INTERNAL_ERROR;
    tState.surfaceFresh = true;
    return next(context, pdu);
}

// Runs on the client's thread inside its post-connect, before the graphics
// channel opens.
BOOL clientConnect(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    const pfnShadowClientConnect library = gLibraryConnect.load();
    const BOOL accepted = library ? library(subsystem, client) : TRUE;
    if (!accepted || !client || !client->rdpgfx)
        return accepted;
    shadow_ext_wrap_slot(client->rdpgfx->CreateSurface, gNextCreateSurface, createSurface);
    shadow_ext_wrap_slot(client->rdpgfx->SurfaceFrameCommand, gNextFrame, surfaceFrameCommand);
    tState.hooked = client->rdpgfx->CreateSurface == createSurface &&
                    client->rdpgfx->SurfaceFrameCommand == surfaceFrameCommand;
    return accepted;
}

} // namespace

std::vector<RECTANGLE_16> shadow_ext_clip_rects(const RECTANGLE_16* rects, size_t count,
                                                UINT32 width, UINT32 height, size_t maxRects) {
    std::vector<RECTANGLE_16> out;
    const UINT16 right = static_cast<UINT16>(std::min<UINT32>(width, UINT16_MAX));
    const UINT16 bottom = static_cast<UINT16>(std::min<UINT32>(height, UINT16_MAX));
    for (size_t i = 0; rects && i < count; ++i) {
        const RECTANGLE_16 r = {rects[i].left, rects[i].top, std::min(rects[i].right, right),
                                std::min(rects[i].bottom, bottom)};
        if (r.left < r.right && r.top < r.bottom)
            out.push_back(r);
    }
    if (out.size() <= maxRects)
        return out;
    RECTANGLE_16 box = out.front();
    for (const RECTANGLE_16& r : out) {
        box.left = std::min(box.left, r.left);
        box.top = std::min(box.top, r.top);
        box.right = std::max(box.right, r.right);
        box.bottom = std::max(box.bottom, r.bottom);
    }
    return {box};
}

std::vector<RECTANGLE_16> shadow_ext_take_thin_rects(std::vector<RECTANGLE_16>* rects) {
    std::vector<RECTANGLE_16> thin;
    if (!rects)
        return thin;
    auto isThin = [](const RECTANGLE_16& r) {
        return std::min(r.right - r.left, r.bottom - r.top) <= kShadowExtThinEdge;
    };
    std::copy_if(rects->begin(), rects->end(), std::back_inserter(thin), isThin);
    rects->erase(std::remove_if(rects->begin(), rects->end(), isThin), rects->end());
    return thin;
}

void shadow_ext_widen_planar_rects(std::vector<RECTANGLE_16>* rects, UINT32 width) {
    const UINT32 right = std::min<UINT32>(width, UINT16_MAX);
    if (!rects || right < kShadowExtPlanarMinWidth)
        return;
    for (RECTANGLE_16& r : *rects) {
        if (r.right - r.left >= kShadowExtPlanarMinWidth)
            continue;
        r.right = static_cast<UINT16>(std::min<UINT32>(r.left + kShadowExtPlanarMinWidth, right));
        r.left = static_cast<UINT16>(r.right - kShadowExtPlanarMinWidth);
    }
}

extern "C" BOOL shadow_ext_install_changed_region(rdpShadowServer* server) {
    if (!server || !server->subsystem)
        return FALSE;
    if (server->shareSubRect) {
        WLog_INFO(TAG, "frames are encoded whole (a part of the screen shared)");
        return TRUE;
    }
    gServer.store(server);
    rdpShadowSubsystem* subsystem = server->subsystem;
    if (subsystem->ClientConnect != clientConnect) {
        gLibraryConnect.store(subsystem->ClientConnect);
        subsystem->ClientConnect = clientConnect;
    }
    WLog_INFO(TAG, "planar, progressive and RemoteFX frames carry only the changed region");
    return TRUE;
}

// The library computes each update's region, then passes the whole desktop
// to the encoder; the region is taken here, on its way to the extents call.
extern "C" const RECTANGLE_16* region16_extents(const REGION16* region) {
    using Fn = const RECTANGLE_16* (*)(const REGION16*);
    static const Fn library = nextDefinition<Fn>("region16_extents");
    if (region && calledByShadowLibrary(__builtin_return_address(0))) {
        UINT32 count = 0;
        const RECTANGLE_16* rects = region16_rects(region, &count);
        tState.rects.assign(rects, rects + (rects ? count : 0));
        tState.armed = true;
        tState.solids.clear();
        tState.moves.clear();
    }
    return library(region);
}

extern "C" int progressive_compress(PROGRESSIVE_CONTEXT* progressive, const BYTE* pSrcData,
                                    UINT32 SrcSize, UINT32 SrcFormat, UINT32 Width, UINT32 Height,
                                    UINT32 ScanLine, const REGION16* invalidRegion,
                                    BYTE** ppDstData, UINT32* pDstSize) {
    using Fn = int (*)(PROGRESSIVE_CONTEXT*, const BYTE*, UINT32, UINT32, UINT32, UINT32, UINT32,
                       const REGION16*, BYTE**, UINT32*);
    static const Fn library = nextDefinition<Fn>("progressive_compress");
    if (!calledByShadowLibrary(__builtin_return_address(0)))
        return library(progressive, pSrcData, SrcSize, SrcFormat, Width, Height, ScanLine,
                       invalidRegion, ppDstData, pDstSize);
    std::vector<RECTANGLE_16> rects;
    const std::vector<RECTANGLE_16> encoded =
        invalidRegion && takeRegion(&rects)
            ? encodedRects(rects, pSrcData, ScanLine, SrcFormat, Width, Height)
            : std::vector<RECTANGLE_16>{};
    if (encoded.empty()) {
        const int status = library(progressive, pSrcData, SrcSize, SrcFormat, Width, Height,
                                   ScanLine, invalidRegion, ppDstData, pDstSize);
        wholeFrameSent(status >= 0 && invalidRegion && region16_n_rects(invalidRegion) == 1 &&
                           coversDesktop(*region16_extents(invalidRegion), Width, Height),
                       pSrcData, SrcFormat, Width, Height, ScanLine);
        return status;
    }
    REGION16 changed;
    region16_init(&changed);
    for (const RECTANGLE_16& r : encoded)
        region16_union_rect(&changed, &changed, &r);
    const int status = library(progressive, pSrcData, SrcSize, SrcFormat, Width, Height, ScanLine,
                               &changed, ppDstData, pDstSize);
    region16_uninit(&changed);
    if (status < 0)
        tState.shown.forget();
    return status;
}

// The library's graphics-pipeline RemoteFX frame: one rectangle, the desktop.
extern "C" BOOL rfx_compose_message(RFX_CONTEXT* context, wStream* s, const RFX_RECT* rects,
                                    size_t num_rects, const BYTE* image_data, UINT32 width,
                                    UINT32 height, UINT32 rowstride) {
    using Fn = BOOL (*)(RFX_CONTEXT*, wStream*, const RFX_RECT*, size_t, const BYTE*, UINT32,
                        UINT32, UINT32);
    static const Fn library = nextDefinition<Fn>("rfx_compose_message");
    if (!calledByShadowLibrary(__builtin_return_address(0)))
        return library(context, s, rects, num_rects, image_data, width, height, rowstride);
    std::vector<RECTANGLE_16> changed;
    std::vector<RFX_RECT> tiles;
    std::vector<RECTANGLE_16> thin;
    if (takeRegion(&changed)) {
        std::vector<RECTANGLE_16> encoded =
            encodedRects(changed, image_data, rowstride, surfaceFormat(), width, height);
        thin = shadow_ext_take_thin_rects(&encoded);
        // Many small changes (text here and there) are cheaper as tiles
        // than as a planar command each.
        if (thin.size() > kMostStrips) {
            encoded.insert(encoded.end(), thin.begin(), thin.end());
            thin.clear();
        }
        for (const RECTANGLE_16& r : encoded)
            tiles.push_back({r.left, r.top, static_cast<UINT16>(r.right - r.left),
                             static_cast<UINT16>(r.bottom - r.top)});
    }
    if (!thin.empty()) {
        shadow_ext_widen_planar_rects(&thin, width);
        tState.strips = {image_data, surfaceFormat(), rowstride, std::move(thin)};
        // Nothing left for RemoteFX: the frame command sends the strips alone.
        if (tiles.empty())
            return TRUE;
    }
    if (tiles.empty()) {
        const BOOL sent =
            library(context, s, rects, num_rects, image_data, width, height, rowstride);
        wholeFrameSent(sent && num_rects == 1 && rects &&
                           coversDesktop({rects[0].x, rects[0].y,
                                          static_cast<UINT16>(rects[0].x + rects[0].width),
                                          static_cast<UINT16>(rects[0].y + rects[0].height)},
                                         width, height),
                       image_data, surfaceFormat(), width, height, rowstride);
        return sent;
    }
    const BOOL sent =
        library(context, s, tiles.data(), tiles.size(), image_data, width, height, rowstride);
    if (!sent) {
        tState.shown.forget();
        tState.strips = {};
    }
    return sent;
}

// The library readies its planar context at each frame's size; planar_room.h
// says why it is given room first.
extern "C" BOOL freerdp_bitmap_planar_context_reset(BITMAP_PLANAR_CONTEXT* context, UINT32 width,
                                                    UINT32 height) {
    if (calledByShadowLibrary(__builtin_return_address(0)))
        return shadow_ext_planar_reset_with_room(libraryPlanarReset(), context, width, height);
    return libraryPlanarReset()(context, width, height);
}

extern "C" void freerdp_bitmap_planar_context_free(BITMAP_PLANAR_CONTEXT* context) {
    using Fn = void (*)(BITMAP_PLANAR_CONTEXT*);
    static const Fn library = nextDefinition<Fn>("freerdp_bitmap_planar_context_free");
    shadow_ext_planar_forget(context);
    library(context);
}

// Called by the library only on its way to a graphics-pipeline planar frame.
extern "C" void freerdp_planar_topdown_image(BITMAP_PLANAR_CONTEXT* planar, BOOL topdown) {
    using Fn = void (*)(BITMAP_PLANAR_CONTEXT*, BOOL);
    static const Fn library = nextDefinition<Fn>("freerdp_planar_topdown_image");
    if (calledByShadowLibrary(__builtin_return_address(0)))
        tState.planarNext = true;
    tState.orientedContext = planar;
    tState.topdown = topdown;
    library(planar, topdown);
}

namespace {

// The library's planar encoder, checked where it is known to err.
BYTE* checkedPlanar(BITMAP_PLANAR_CONTEXT* context, const BYTE* data, UINT32 format, UINT32 width,
                    UINT32 height, UINT32 scanline, BYTE* dstData, UINT32* pDstSize) {
    // Read first: the probe below sets orientations of its own.
    const BOOL topdown = tState.orientedContext == context ? tState.topdown : FALSE;
    static const auto library =
        nextDefinition<ShadowExtPlanarEncode>("freerdp_bitmap_compress_planar");
    static const bool faulty = [] {
        const bool sound = shadow_ext_planar_rle_sound(library);
        if (!sound)
            WLog_WARN(TAG, "FreeRDP %s encodes some planar bitmaps wrongly: each one is checked "
                           "and sent uncompressed where it errs",
                      freerdp_get_version_string());
        return !sound;
    }();
    return shadow_ext_planar_encode_checked(library, faulty, context, topdown, data, format, width,
                                            height, scanline, dstData, pDstSize);
}

} // namespace

extern "C" BYTE* freerdp_bitmap_compress_planar(BITMAP_PLANAR_CONTEXT* context, const BYTE* data,
                                                UINT32 format, UINT32 width, UINT32 height,
                                                UINT32 scanline, BYTE* dstData, UINT32* pDstSize) {
    ThreadState& state = tState;
    const bool graphicsFrame =
        state.planarNext && !dstData && calledByShadowLibrary(__builtin_return_address(0));
    state.planarNext = false;
    std::vector<RECTANGLE_16> rects;
    const bool cut = graphicsFrame && takeRegion(&rects);
    const std::vector<RECTANGLE_16> clipped =
        cut ? shadow_ext_clip_rects(rects.data(), rects.size(), width, height, SIZE_MAX)
            : std::vector<RECTANGLE_16>{};
    if (clipped.empty()) {
        if (graphicsFrame && scrollCopies())
            state.shown.whole(data, format, width, height, scanline);
        return checkedPlanar(context, data, format, width, height, scanline, dstData, pDstSize);
    }
    DeferredPlanar image;
    const std::vector<RECTANGLE_16> rest = takeSolids(
        withoutMoves(clipped, data, format, width, height, scanline), data, scanline, format);
    image.rects = shadow_ext_clip_rects(rest.data(), rest.size(), width, height, kMaxPlanarRects);
    shadow_ext_widen_planar_rects(&image.rects, width);
    // The library sends what we return as one command: nothing, which our
    // frame command replaces with the changed rectangles.
    image.data = data;
    image.format = format;
    image.stride = scanline;
    state.deferred = std::move(image);
    if (pDstSize)
        *pDstSize = 0;
    return nullptr;
}
