// Resampling of premultiplied B, G, R, A pictures (rows top-down, no row
// padding): area averaging where the picture shrinks, bilinear where it
// grows, each axis on its own.
#pragma once
#include <cstdint>

namespace mac_cursor {

void scaleBgra(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, uint8_t* dst,
               int32_t dstWidth, int32_t dstHeight);

} // namespace mac_cursor
