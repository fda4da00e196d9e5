#include "solid_tiles.h"

#include <algorithm>
#include <cstring>

namespace {

// The fourth byte of a 32-bit pixel carries nothing.
constexpr UINT32 kColourBits = 0x00FFFFFF;

UINT32 pixelAt(const BYTE* data, UINT32 stride, UINT32 x, UINT32 y) {
    UINT32 value = 0;
    std::memcpy(&value, data + size_t{y} * stride + size_t{x} * 4, 4);
    return value & kColourBits;
}

bool oneColour(const BYTE* data, UINT32 stride, const RECTANGLE_16& r, UINT32* pixel) {
    const UINT32 first = pixelAt(data, stride, r.left, r.top);
    for (UINT32 y = r.top; y < r.bottom; ++y)
        for (UINT32 x = r.left; x < r.right; ++x)
            if (pixelAt(data, stride, x, y) != first)
                return false;
    *pixel = first;
    return true;
}

UINT16 nextLine(UINT16 at, UINT16 end) {
    const UINT32 next = (UINT32{at} / kShadowExtTileSize + 1) * kShadowExtTileSize;
    return static_cast<UINT16>(std::min<UINT32>(next, end));
}

// One row of tiles of `r`, between `top` and `bottom`.
void splitRow(const RECTANGLE_16& r, UINT16 top, UINT16 bottom, const BYTE* data, UINT32 stride,
              ShadowExtTiles* out) {
    bool runSolid = false;
    UINT32 runPixel = 0;
    RECTANGLE_16 run = {r.left, top, r.left, bottom};
    auto flush = [&] {
        if (run.right == run.left)
            return;
        if (runSolid)
            out->solids.push_back({run, runPixel});
        else
            out->rest.push_back(run);
    };
    for (UINT16 x = r.left; x < r.right; x = nextLine(x, r.right)) {
        const RECTANGLE_16 tile = {x, top, nextLine(x, r.right), bottom};
        UINT32 pixel = 0;
        const bool solid = oneColour(data, stride, tile, &pixel);
        if (run.right > run.left && (solid != runSolid || (solid && pixel != runPixel))) {
            flush();
            run.left = tile.left;
        }
        runSolid = solid;
        runPixel = pixel;
        run.right = tile.right;
    }
    flush();
}

} // namespace

ShadowExtTiles shadow_ext_split_solid_tiles(const std::vector<RECTANGLE_16>& rects,
                                            const BYTE* data, UINT32 stride) {
    ShadowExtTiles out;
    if (!data) {
        out.rest = rects;
        return out;
    }
    for (const RECTANGLE_16& r : rects)
        for (UINT16 y = r.top; y < r.bottom; y = nextLine(y, r.bottom))
            splitRow(r, y, nextLine(y, r.bottom), data, stride, &out);
    return out;
}
