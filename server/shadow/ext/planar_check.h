// Planar bitmaps that decode to what was encoded. FreeRDP 3.15.0's planar
// run-length encoder writes some pictures wrongly (a plain rectangle on a
// plain field is enough), and every client, whatever its decoder, then shows
// damaged tiles until the next full repaint. Where the loaded library's
// encoder fails a round trip of a probe picture, its run-length bitmaps are
// written again by our own encoder (planar_rle.h).
#pragma once
#include <freerdp/codec/planar.h>

#ifdef __cplusplus
extern "C" {
#endif

// The signature of freerdp_bitmap_compress_planar.
typedef BYTE* (*ShadowExtPlanarEncode)(BITMAP_PLANAR_CONTEXT* context, const BYTE* data,
                                        UINT32 format, UINT32 width, UINT32 height,
                                        UINT32 scanline, BYTE* dstData, UINT32* pDstSize);

// Whether `encode` run-length encodes the probe pictures so that they decode
// back pixel for pixel.
BOOL shadow_ext_planar_rle_sound(ShadowExtPlanarEncode encode);

// Encodes as `encode` does. When `encoderFaulty` and the planar-check hook
// is on, a run-length result is written again by our encoder, with the same
// choice of alpha plane (within the caller's buffer when it gave one, so long
// as it fits in width x height x 4 bytes; a lossy one, which the server never
// asks for, is decoded and goes uncompressed if wrong). `topdown` is the
// orientation set on `context`.
BYTE* shadow_ext_planar_encode_checked(ShadowExtPlanarEncode encode, BOOL encoderFaulty,
                                       BITMAP_PLANAR_CONTEXT* context, BOOL topdown,
                                       const BYTE* data, UINT32 format, UINT32 width,
                                       UINT32 height, UINT32 scanline, BYTE* dstData,
                                       UINT32* pDstSize);

// How many of the library's run-length bitmaps were written again, since
// start.
UINT64 shadow_ext_planar_repaired_count(void);

#ifdef __cplusplus
}
#endif
