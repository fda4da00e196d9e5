// Planar bitmaps that decode to what was encoded. FreeRDP 3.15.0's planar
// run-length encoder writes some pictures wrongly (a plain rectangle on a
// plain field is enough), and every client, whatever its decoder, then shows
// damaged tiles until the next full repaint. Where the loaded library's
// encoder fails a round trip of a probe picture, each run-length bitmap is
// decoded again and compared with its source; one that differs goes out
// uncompressed, which that encoder writes correctly.
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
// is on, a run-length result that does not decode to the source is replaced
// by the uncompressed form (within the caller's buffer when it gave one, so
// long as that form fits in width x height x 4 bytes). `topdown` is the
// orientation set on `context`.
BYTE* shadow_ext_planar_encode_checked(ShadowExtPlanarEncode encode, BOOL encoderFaulty,
                                       BITMAP_PLANAR_CONTEXT* context, BOOL topdown,
                                       const BYTE* data, UINT32 format, UINT32 width,
                                       UINT32 height, UINT32 scanline, BYTE* dstData,
                                       UINT32* pDstSize);

// How many bitmaps went out uncompressed because their run-length form was
// wrong, since start.
UINT64 shadow_ext_planar_repaired_count(void);

#ifdef __cplusplus
}
#endif
