// Planar bitmaps reach the client as they were on the screen, also where the
// library's run-length encoder errs.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <dlfcn.h>

#include <freerdp/codec/color.h>
#include <freerdp/freerdp.h>
#include <gtest/gtest.h>

#include "server/shadow/ext/planar_check.h"
#include "server/shadow/ext/planar_rle.h"

namespace {

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

enum class Picture { Window, Gradient, Noise, Runs, Solid };

// BGRA pixels; alpha varies only where `withAlpha`.
std::vector<UINT32> picture(Picture kind, UINT32 width, UINT32 height, bool withAlpha = false) {
    std::vector<UINT32> pixels(size_t{width} * height);
    std::mt19937 random(width * 131 + height);
    for (UINT32 y = 0; y < height; ++y) {
        for (UINT32 x = 0; x < width; ++x) {
            UINT32 colour = 0x3366CC;
            switch (kind) {
            case Picture::Window:
                colour = (x > 10 && x < 30 && y > 5 && y < 40) ? 0xCC3322 : 0x3366CC;
                break;
            case Picture::Gradient:
                colour = (x * 4) << 8 | (y * 5) | (x * y) << 16;
                break;
            case Picture::Noise:
                colour = random() & 0xFFFFFF;
                break;
            case Picture::Runs: // runs of every length 1, 2, 3, ... in each row
                colour = 0x10101 * ((x + y) % 7 == 0 ? 0 : static_cast<UINT32>(
                                                                std::sqrt(2.0 * (x + y)) * 37));
                break;
            case Picture::Solid:
                break;
            }
            const UINT32 alpha = withAlpha ? (x * 7 + y) & 0xFF : 0xFF;
            pixels[size_t{y} * width + x] = alpha << 24 | (colour & 0xFFFFFF);
        }
    }
    return pixels;
}

// What a client decodes from the bitmap (alpha as decoded).
std::vector<UINT32> decode(const BYTE* encoded, size_t size, UINT32 width, UINT32 height,
                           BOOL topdown) {
    std::vector<UINT32> out(size_t{width} * height);
    BITMAP_PLANAR_CONTEXT* planar = freerdp_bitmap_planar_context_new(0, width, height);
    const BOOL ok = planar_decompress(planar, encoded, static_cast<UINT32>(size), width, height,
                                      reinterpret_cast<BYTE*>(out.data()), PIXEL_FORMAT_BGRA32,
                                      width * 4, 0, 0, width, height, !topdown);
    freerdp_bitmap_planar_context_free(planar);
    return ok ? out : std::vector<UINT32>{};
}

std::vector<UINT32> opaque(std::vector<UINT32> pixels) {
    for (UINT32& pixel : pixels)
        pixel |= 0xFF000000;
    return pixels;
}

} // namespace

// Our encoder against the codec's decoder: every size, orientation and
// pattern, with and without the alpha plane.
TEST(PlanarRle, EveryPictureDecodesToItself) {
    const struct {
        UINT32 width, height;
    } sizes[] = {{1, 1}, {3, 5}, {17, 1}, {1, 9}, {64, 64}, {100, 37}, {300, 2}};
    for (const auto& size : sizes) {
        for (const Picture kind :
             {Picture::Window, Picture::Gradient, Picture::Noise, Picture::Runs, Picture::Solid}) {
            for (const bool skipAlpha : {true, false}) {
                for (const bool topdown : {true, false}) {
                    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) +
                                 " picture " + std::to_string(static_cast<int>(kind)) +
                                 (skipAlpha ? " no alpha" : " alpha") +
                                 (topdown ? " top-down" : " bottom-up"));
                    const std::vector<UINT32> screen =
                        picture(kind, size.width, size.height, !skipAlpha);
                    const std::vector<BYTE> bitmap = shadow_ext_planar_rle_encode(
                        reinterpret_cast<const BYTE*>(screen.data()), PIXEL_FORMAT_BGRA32,
                        size.width, size.height, size.width * 4, skipAlpha, topdown);
                    const auto got = decode(bitmap.data(), bitmap.size(), size.width,
                                            size.height, topdown);
                    ASSERT_TRUE(got == (skipAlpha ? opaque(screen) : screen));
                }
            }
        }
    }
}

TEST(PlanarRle, FlatPicturesStaySmall) {
    const std::vector<UINT32> screen = picture(Picture::Window, 640, 480);
    const std::vector<BYTE> bitmap = shadow_ext_planar_rle_encode(
        reinterpret_cast<const BYTE*>(screen.data()), PIXEL_FORMAT_BGRX32, 640, 480, 640 * 4,
        true, true);
    // Three planes uncompressed would be 921600 bytes.
    EXPECT_LT(bitmap.size(), 640u * 480 * 3 / 20) << "runs, not raw bytes";
}

struct Case {
    const char* what;
    ShadowExtPlanarEncode encoder;
    BOOL encoderFaulty;
    BOOL topdown;
    bool callerBuffer;
    bool rewritten;
};

TEST(PlanarCheck, WhatTheClientDecodesIsTheScreen) {
    ASSERT_NE(libraryEncoder(), nullptr);
    constexpr UINT32 kWidth = 64, kHeight = 48;
    const Case cases[] = {
        {"a faulty encoder's bitmap is written again", damagingEncoder, TRUE, TRUE, false, true},
        {"bottom-up too", damagingEncoder, TRUE, FALSE, false, true},
        {"in the caller's buffer", damagingEncoder, TRUE, FALSE, true, true},
        {"a sound encoder's is left alone", libraryEncoder(), FALSE, TRUE, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<UINT32> screen = picture(Picture::Window, kWidth, kHeight);
        BITMAP_PLANAR_CONTEXT* planar = freerdp_bitmap_planar_context_new(
            PLANAR_FORMAT_HEADER_RLE | PLANAR_FORMAT_HEADER_NA, kWidth, kHeight);
        freerdp_planar_topdown_image(planar, c.topdown);
        std::vector<BYTE> buffer(kWidth * kHeight * 4);
        UINT32 size = 0;
        const UINT64 before = shadow_ext_planar_repaired_count();
        BYTE* out = shadow_ext_planar_encode_checked(
            c.encoder, c.encoderFaulty, planar, c.topdown,
            reinterpret_cast<const BYTE*>(screen.data()), PIXEL_FORMAT_BGRX32, kWidth, kHeight,
            kWidth * 4, c.callerBuffer ? buffer.data() : nullptr, &size);
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(decode(out, size, kWidth, kHeight, c.topdown) == screen);
        EXPECT_NE(out[0] & PLANAR_FORMAT_HEADER_RLE, 0) << "still run-length encoded";
        EXPECT_EQ(shadow_ext_planar_repaired_count() - before, c.rewritten ? 1u : 0u);
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
