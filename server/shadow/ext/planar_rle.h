// Our own planar run-length encoder, for libraries whose encoder writes
// some pictures wrongly (FreeRDP 3.15.0). It writes what the planar codec's
// decoders read: a format header, then the alpha plane (unless skipped), the
// red, green and blue planes, each scanline after the first as differences
// to the one before, every scanline as segments of raw bytes and runs.
#pragma once
#include <vector>

#include <winpr/wtypes.h>

// The planar bitmap of `width` x `height` pixels of `format` at `data`
// (`scanline` bytes a row), rows first to last when `topdown`, else last to
// first; the alpha plane left out when `skipAlpha` (decoders then make every
// pixel opaque).
std::vector<BYTE> shadow_ext_planar_rle_encode(const BYTE* data, UINT32 format, UINT32 width,
                                               UINT32 height, UINT32 scanline, bool skipAlpha,
                                               bool topdown);
