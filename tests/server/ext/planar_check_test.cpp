// Planar bitmaps reach the client as they were on the screen, also where the
// library's run-length encoder errs.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dlfcn.h>

#include <freerdp/codec/color.h>
#include <freerdp/freerdp.h>
#include <gtest/gtest.h>

#include "server/shadow/ext/planar_check.h"

namespace {

constexpr UINT32 kWidth = 64;
constexpr UINT32 kHeight = 48;

// The library's own encoder, not the one the server puts in front of it.
ShadowExtPlanarEncode libraryEncoder() {
    void* library = dlopen("libfreerdp3.so.3", RTLD_LAZY | RTLD_NOLOAD);
    return library ? reinterpret_cast<ShadowExtPlanarEncode>(
                         dlsym(library, "freerdp_bitmap_compress_planar"))
                   : nullptr;
}

// An encoder whose run-length output is damaged, as 3.15.0's can be.
BYTE* damagingEncoder(BITMAP_PLANAR_CONTEXT* context, const BYTE* data, UINT32 format,
                      UINT32 width, UINT32 height, UINT32 scanline, BYTE* dstData,
                      UINT32* pDstSize) {
    BYTE* out = libraryEncoder()(context, data, format, width, height, scanline, dstData, pDstSize);
    if (out && (out[0] & PLANAR_FORMAT_HEADER_RLE) && *pDstSize > 8)
        out[*pDstSize / 2] ^= 0x5A;
    return out;
}

enum class Picture { Gradient, Window };

std::vector<UINT32> picture(Picture kind) {
    std::vector<UINT32> pixels(kWidth * kHeight);
    for (UINT32 y = 0; y < kHeight; ++y)
        for (UINT32 x = 0; x < kWidth; ++x)
            pixels[y * kWidth + x] =
                kind == Picture::Gradient ? (0xFF000000 | (x * 4) << 8 | (y * 5))
                : (x > 10 && x < 30 && y > 5 && y < 40) ? 0xFFCC3322
                                                         : 0xFF3366CC;
    return pixels;
}

// The colours a client decodes from the bitmap.
std::vector<UINT32> decode(const BYTE* encoded, UINT32 size, BOOL topdown) {
    std::vector<UINT32> out(kWidth * kHeight);
    BITMAP_PLANAR_CONTEXT* planar = freerdp_bitmap_planar_context_new(0, kWidth, kHeight);
    const BOOL ok = planar_decompress(planar, encoded, size, kWidth, kHeight,
                                      reinterpret_cast<BYTE*>(out.data()), PIXEL_FORMAT_BGRX32,
                                      kWidth * 4, 0, 0, kWidth, kHeight, !topdown);
    freerdp_bitmap_planar_context_free(planar);
    for (UINT32& pixel : out)
        pixel |= 0xFF000000;
    return ok ? out : std::vector<UINT32>{};
}

struct Case {
    const char* what;
    ShadowExtPlanarEncode encoder;
    Picture picture;
    BOOL topdown;
    bool callerBuffer;
    bool staysRunLength;
};

TEST(PlanarCheck, WhatTheClientDecodesIsTheScreen) {
    ASSERT_NE(libraryEncoder(), nullptr);
    const Case cases[] = {
        {"a right bitmap is kept", libraryEncoder(), Picture::Gradient, TRUE, false, true},
        {"a damaged one goes uncompressed", damagingEncoder, Picture::Window, TRUE, false, false},
        {"bottom-up too", damagingEncoder, Picture::Window, FALSE, false, false},
        {"in the caller's buffer", damagingEncoder, Picture::Gradient, FALSE, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<UINT32> screen = picture(c.picture);
        BITMAP_PLANAR_CONTEXT* planar = freerdp_bitmap_planar_context_new(
            PLANAR_FORMAT_HEADER_RLE | PLANAR_FORMAT_HEADER_NA, kWidth, kHeight);
        freerdp_planar_topdown_image(planar, c.topdown);
        std::vector<BYTE> buffer(kWidth * kHeight * 4);
        UINT32 size = 0;
        const UINT64 repairedBefore = shadow_ext_planar_repaired_count();
        BYTE* out = shadow_ext_planar_encode_checked(
            c.encoder, TRUE, planar, c.topdown, reinterpret_cast<const BYTE*>(screen.data()),
            PIXEL_FORMAT_BGRX32, kWidth, kHeight, kWidth * 4,
            c.callerBuffer ? buffer.data() : nullptr, &size);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(decode(out, size, c.topdown) == screen);
        EXPECT_EQ((out[0] & PLANAR_FORMAT_HEADER_RLE) != 0, c.staysRunLength);
        EXPECT_EQ(shadow_ext_planar_repaired_count() - repairedBefore, c.staysRunLength ? 0u : 1u);
        if (c.callerBuffer)
            EXPECT_EQ(out, buffer.data());
        else
            std::free(out);
        freerdp_bitmap_planar_context_free(planar);
    }
}

// The probe tells the releases apart: 3.15.0 damages the probe pictures.
TEST(PlanarCheck, TheProbeFindsTheFaultyEncoder) {
    EXPECT_FALSE(shadow_ext_planar_rle_sound(damagingEncoder));
    int major = 0, minor = 0, revision = 0;
    freerdp_get_version(&major, &minor, &revision);
    const std::string version =
        std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(revision);
    if (version == "3.10.3" || version == "3.15.0") {
        EXPECT_EQ(shadow_ext_planar_rle_sound(libraryEncoder()), version == "3.10.3");
    }
}

} // namespace
