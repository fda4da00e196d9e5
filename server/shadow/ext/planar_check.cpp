#include "planar_check.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <freerdp/codec/color.h>

#include "hook_gate.h"
#include "planar_rle.h"

namespace {

std::atomic<UINT64> gRepaired{0};

struct PlanarFree {
    void operator()(BITMAP_PLANAR_CONTEXT* planar) const {
        freerdp_bitmap_planar_context_free(planar);
    }
};
using PlanarPtr = std::unique_ptr<BITMAP_PLANAR_CONTEXT, PlanarFree>;

// The per-thread contexts the check decodes and re-encodes with.
struct Contexts {
    PlanarPtr decoder;
    PlanarPtr raw[2]; // without and with the alpha plane skipped
};
thread_local Contexts tContexts;

BITMAP_PLANAR_CONTEXT* decoder() {
    if (!tContexts.decoder)
        tContexts.decoder.reset(freerdp_bitmap_planar_context_new(0, 64, 64));
    return tContexts.decoder.get();
}

BITMAP_PLANAR_CONTEXT* rawEncoder(bool skipAlpha, UINT32 width, UINT32 height, BOOL topdown) {
    PlanarPtr& slot = tContexts.raw[skipAlpha ? 1 : 0];
    if (!slot)
        slot.reset(freerdp_bitmap_planar_context_new(skipAlpha ? PLANAR_FORMAT_HEADER_NA : 0,
                                                     width, height));
    if (!slot || !freerdp_bitmap_planar_context_reset(slot.get(), width, height))
        return nullptr;
    freerdp_planar_topdown_image(slot.get(), topdown);
    return slot.get();
}

bool sameColour(const BYTE* a, const BYTE* b, UINT32 format) {
    BYTE r1 = 0, g1 = 0, b1 = 0, r2 = 0, g2 = 0, b2 = 0;
    FreeRDPSplitColor(FreeRDPReadColor(a, format), format, &r1, &g1, &b1, nullptr, nullptr);
    FreeRDPSplitColor(FreeRDPReadColor(b, format), format, &r2, &g2, &b2, nullptr, nullptr);
    return r1 == r2 && g1 == g2 && b1 == b2;
}

// Whether the encoded bitmap decodes to the source's colours (alpha aside:
// the screen has none worth keeping).
bool decodesToSource(const BYTE* encoded, UINT32 size, BOOL topdown, const BYTE* data,
                     UINT32 format, UINT32 width, UINT32 height, UINT32 scanline) {
    BITMAP_PLANAR_CONTEXT* planar = decoder();
    const size_t bpp = FreeRDPGetBytesPerPixel(format);
    if (!planar || bpp == 0)
        return true; // nothing to check with: leave the library's result
    const size_t step = size_t{width} * bpp;
    std::vector<BYTE> decoded(step * height);
    if (!planar_decompress(planar, encoded, size, width, height, decoded.data(), format,
                           static_cast<UINT32>(step), 0, 0, width, height, !topdown))
        return false;
    for (UINT32 y = 0; y < height; ++y) {
        const BYTE* want = data + size_t{y} * scanline;
        const BYTE* got = decoded.data() + y * step;
        if (std::memcmp(want, got, step) == 0)
            continue;
        for (UINT32 x = 0; x < width; ++x)
            if (!sameColour(want + x * bpp, got + x * bpp, format))
                return false;
    }
    return true;
}

size_t rawSize(bool skipAlpha, UINT32 width, UINT32 height) {
    const size_t plane = size_t{width} * height;
    return 2 + plane * (skipAlpha ? 3 : 4);
}

// A probe: a field, a rectangle, a line of alternating pixels, a gradient.
std::vector<UINT32> probePicture(UINT32 width, UINT32 height) {
    std::vector<UINT32> pixels(size_t{width} * height);
    for (UINT32 y = 0; y < height; ++y) {
        for (UINT32 x = 0; x < width; ++x) {
            UINT32 colour = 0xFF3366CC;
            if (x > 20 && x < 40 && y > 10 && y < 50)
                colour = 0xFFCC3322;
            if (y == 55)
                colour = (x % 2) ? 0xFFFFFFFF : 0xFF000000;
            if (y > 57)
                colour = 0xFF000000 | (x * 4) << 8 | (y * 4);
            pixels[size_t{y} * width + x] = colour;
        }
    }
    return pixels;
}

} // namespace

extern "C" BOOL shadow_ext_planar_rle_sound(ShadowExtPlanarEncode encode) {
    constexpr UINT32 kSize = 64;
    const std::vector<UINT32> probe = probePicture(kSize, kSize);
    const auto* data = reinterpret_cast<const BYTE*>(probe.data());
    for (const BOOL topdown : {TRUE, FALSE}) {
        PlanarPtr planar(freerdp_bitmap_planar_context_new(
            PLANAR_FORMAT_HEADER_RLE | PLANAR_FORMAT_HEADER_NA, kSize, kSize));
        if (!planar)
            return FALSE;
        freerdp_planar_topdown_image(planar.get(), topdown);
        UINT32 size = 0;
        BYTE* encoded = encode(planar.get(), data, PIXEL_FORMAT_BGRX32, kSize, kSize, kSize * 4,
                               nullptr, &size);
        const bool sound = encoded && decodesToSource(encoded, size, topdown, data,
                                                      PIXEL_FORMAT_BGRX32, kSize, kSize, kSize * 4);
        std::free(encoded);
        if (!sound)
            return FALSE;
    }
    return TRUE;
}

namespace {

// The bitmap in place of the library's: in the caller's buffer when it gave
// one (and the bitmap fits the width x height x 4 bytes it holds at least),
// else in one of its own that the caller frees; null when it does not fit.
BYTE* deliver(const std::vector<BYTE>& bitmap, BYTE* encoded, BYTE* dstData, UINT32 width,
              UINT32 height, UINT32* pDstSize) {
    if (dstData) {
        if (bitmap.size() > size_t{width} * height * 4)
            return nullptr;
        std::memcpy(dstData, bitmap.data(), bitmap.size());
        *pDstSize = static_cast<UINT32>(bitmap.size());
        return dstData;
    }
    auto* copy = static_cast<BYTE*>(std::malloc(bitmap.size()));
    if (!copy)
        return nullptr;
    std::memcpy(copy, bitmap.data(), bitmap.size());
    std::free(encoded);
    *pDstSize = static_cast<UINT32>(bitmap.size());
    return copy;
}

// A bitmap with colour loss or subsampling (which the server never asks
// for) is checked by decoding it; a wrong one goes uncompressed.
BYTE* checkedOrUncompressed(ShadowExtPlanarEncode encode, BYTE* encoded, BOOL topdown,
                            const BYTE* data, UINT32 format, UINT32 width, UINT32 height,
                            UINT32 scanline, BYTE* dstData, UINT32* pDstSize) {
    if (decodesToSource(encoded, *pDstSize, topdown, data, format, width, height, scanline))
        return encoded;
    const bool skipAlpha = (encoded[0] & PLANAR_FORMAT_HEADER_NA) != 0;
    if (dstData && rawSize(skipAlpha, width, height) > size_t{width} * height * 4)
        return encoded; // would not fit the caller's buffer
    BITMAP_PLANAR_CONTEXT* raw = rawEncoder(skipAlpha, width, height, topdown);
    if (!raw)
        return encoded;
    UINT32 rawLength = 0;
    BYTE* replaced = encode(raw, data, format, width, height, scanline, dstData, &rawLength);
    if (!replaced)
        return encoded;
    if (!dstData)
        std::free(encoded);
    *pDstSize = rawLength;
    gRepaired.fetch_add(1, std::memory_order_relaxed);
    return replaced;
}

} // namespace

extern "C" BYTE* shadow_ext_planar_encode_checked(ShadowExtPlanarEncode encode,
                                                  BOOL encoderFaulty,
                                                  BITMAP_PLANAR_CONTEXT* context, BOOL topdown,
                                                  const BYTE* data, UINT32 format, UINT32 width,
                                                  UINT32 height, UINT32 scanline, BYTE* dstData,
                                                  UINT32* pDstSize) {
    BYTE* encoded = encode(context, data, format, width, height, scanline, dstData, pDstSize);
    if (!encoderFaulty || !encoded || !pDstSize || *pDstSize == 0 ||
        !(encoded[0] & PLANAR_FORMAT_HEADER_RLE) ||
        !shadow_ext_hook_on(SHADOW_EXT_PLANAR_CHECK))
        return encoded;
    constexpr BYTE kLossy = PLANAR_FORMAT_HEADER_CLL_MASK | PLANAR_FORMAT_HEADER_CS;
    if (encoded[0] & kLossy)
        return checkedOrUncompressed(encode, encoded, topdown, data, format, width, height,
                                     scanline, dstData, pDstSize);
    // The library's header says what the client takes (alpha or not); the
    // planes are ours.
    const std::vector<BYTE> ours =
        shadow_ext_planar_rle_encode(data, format, width, height, scanline,
                                     (encoded[0] & PLANAR_FORMAT_HEADER_NA) != 0, topdown);
    BYTE* delivered = deliver(ours, encoded, dstData, width, height, pDstSize);
    if (!delivered)
        return checkedOrUncompressed(encode, encoded, topdown, data, format, width, height,
                                     scanline, dstData, pDstSize);
    gRepaired.fetch_add(1, std::memory_order_relaxed);
    return delivered;
}

extern "C" UINT64 shadow_ext_planar_repaired_count(void) {
    return gRepaired.load(std::memory_order_relaxed);
}
