// Which parts of a changed region are one colour. Desktops are mostly flat
// areas (backgrounds, window interiors, blank pages): a 64 x 64 tile of one
// colour costs the client a fill instead of an encoded picture.
#pragma once
#include <vector>

#include <freerdp/codec/region.h>

constexpr UINT16 kShadowExtTileSize = 64;

struct ShadowExtSolid {
    RECTANGLE_16 rect;
    UINT32 pixel; // the pixel as stored, its fourth byte cleared
};

struct ShadowExtTiles {
    std::vector<ShadowExtSolid> solids; // runs of same-colour tiles, row by row
    std::vector<RECTANGLE_16> rest;     // runs of the other tiles
};

// Cuts `rects` (disjoint, inside the image) on the 64-pixel grid of a 32-bit
// image and sorts the pieces; neighbours of one kind in a row are joined.
ShadowExtTiles shadow_ext_split_solid_tiles(const std::vector<RECTANGLE_16>& rects,
                                            const BYTE* data, UINT32 stride);
