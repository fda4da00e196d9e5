// Finding what changed between two pictures when the compositor does not say
// (mutter 43 sends no damage metadata): the pictures are compared in square
// tiles, and changed tiles are merged into few rectangles. A picture that
// did not change costs one comparison and yields nothing.
#pragma once
#include <cstdint>
#include <vector>

#include "../types.h"

namespace corvane::platform::gnome {

inline constexpr int32_t kGnomeDiffTile = 64;

// Rectangles (clipped to width x height) covering every 4-byte pixel that
// differs between `before` and `after`: runs of changed tiles on a tile row,
// joined with the runs below that span the same columns.
std::vector<Rect> gnomeChangedRects(const uint8_t* before, intptr_t beforeStride,
                                    const uint8_t* after, intptr_t afterStride, int32_t width,
                                    int32_t height, int32_t tile = kGnomeDiffTile);

} // namespace corvane::platform::gnome
