// Encoding only what changed. Once a client's graphics pipeline is open, the
// packaged shadow library encodes the whole desktop for every update, however
// little changed: a typed key costs a full-desktop planar or progressive
// encode. This layer hands the library's encoders the region the library
// itself computed for the update (the client's own invalid region and the
// frame's changes): progressive and RemoteFX encode only the tiles under it,
// and planar frames go out as one surface command per changed rectangle. A surface the
// client has just created is always sent whole. H.264 is left alone.
#pragma once
#include <freerdp/codec/region.h>
#include <freerdp/server/shadow.h>

#ifdef __cplusplus
#include <vector>

// The rectangles a frame is encoded as: the update's rectangles clipped to
// the surface (width x height), empty ones left out; more than `maxRects`
// become their bounding box (for planar, one command instead of many).
std::vector<RECTANGLE_16> shadow_ext_clip_rects(const RECTANGLE_16* rects, size_t count,
                                                  UINT32 width, UINT32 height, size_t maxRects);

// Planar rectangles narrower than this are widened (to the right, or to the
// left at the surface's edge): FreeRDP 3.10's client rejects the planar
// bitmaps its encoder makes 1 or 2 pixels wide, and closes the channel.
constexpr UINT16 kShadowExtPlanarMinWidth = 4;
void shadow_ext_widen_planar_rects(std::vector<RECTANGLE_16>* rects, UINT32 width);

// RemoteFX encodes whole 64x64 tiles: a strip a scroll uncovered (8 rows of
// a page) would cost a band of tiles 64 rows high. Changed rectangles no
// thicker than this go as planar commands in the same frame instead
// (lossless, and a tenth of the work); the rest stay RemoteFX.
constexpr UINT16 kShadowExtThinEdge = 16;
// Moves the rectangles no thicker than kShadowExtThinEdge out of `rects`
// into the result.
std::vector<RECTANGLE_16> shadow_ext_take_thin_rects(std::vector<RECTANGLE_16>* rects);

extern "C" {
#endif

// Turns the changed-region encoding on (the library version it was built
// for only: it relies on the order of the library's own calls) and hooks each
// client's graphics channel; call between shadow_server_init and
// shadow_server_start. Returns FALSE only on a broken server.
BOOL shadow_ext_install_changed_region(rdpShadowServer* server);

#ifdef __cplusplus
}
#endif
