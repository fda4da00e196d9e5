// Room kept in planar contexts the shadow library readies once a frame.
// FreeRDP's planar reset keeps a context's buffers only when they are larger
// than asked for; at the same size or larger it allocates, copies and clears
// all of them again (18 bytes a pixel). The library resets its context to the
// frame's size before every planar frame, so a desktop whose frames keep one
// size (a page scrolling beside a clock) paid for that every frame. Growing
// the buffers once with room to spare makes the resets that follow free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>

#include <freerdp/codec/planar.h>

// The size of one plane the library gives a reset to width x height (both
// rounded up to 4).
size_t shadow_ext_planar_plane(uint32_t width, uint32_t height);

struct ShadowExtPlanarGrowth {
    uint32_t width = 0, height = 0; // reset to this first
    size_t room = 0;                // the plane size it leaves room for
};

// Pure: what to reset to before a reset to width x height, given the plane
// size the context has room for (0 when unknown); nothing when it has room.
std::optional<ShadowExtPlanarGrowth> shadow_ext_planar_growth(size_t room, uint32_t width,
                                                              uint32_t height);

// Resets `context` to width x height through `reset` (the library's), first
// growing it when it has no room; remembers each context's room.
BOOL shadow_ext_planar_reset_with_room(BOOL (*reset)(BITMAP_PLANAR_CONTEXT*, UINT32, UINT32),
                                       BITMAP_PLANAR_CONTEXT* context, UINT32 width, UINT32 height);

// Forgets a context about to be freed.
void shadow_ext_planar_forget(const BITMAP_PLANAR_CONTEXT* context);
