// Planar contexts the library resets every frame are grown once, with room,
// and still encode every size right after that.
#include <cstdlib>
#include <cstring>
#include <vector>

#include <dlfcn.h>

#include <freerdp/codec/color.h>
#include <gtest/gtest.h>

#include "server/shadow/ext/planar_room.h"

namespace {

using ResetFn = BOOL (*)(BITMAP_PLANAR_CONTEXT*, UINT32, UINT32);

void* libfreerdp() {
    return dlopen("libfreerdp3.so.3", RTLD_LAZY | RTLD_NOLOAD);
}

// Counts the library's resets, and the sizes asked for.
std::vector<std::pair<UINT32, UINT32>> gResets;
BOOL countingReset(BITMAP_PLANAR_CONTEXT* context, UINT32 width, UINT32 height) {
    gResets.emplace_back(width, height);
    static const auto library =
        reinterpret_cast<ResetFn>(dlsym(libfreerdp(), "freerdp_bitmap_planar_context_reset"));
    return library(context, width, height);
}

// The library keeps its buffers only when they are larger than asked for by
// more than 32 bytes; the smallest holds 4 bytes a plane pixel.
TEST(PlanarRoom, AContextIsGrownOnlyWhenItsBuffersWouldBeMadeAgain) {
    const size_t page = shadow_ext_planar_plane(1200, 720);
    struct Case {
        const char* what;
        size_t room;
        bool grows;
    } const cases[] = {
        {"a context not seen before", 0, true},
        {"room for exactly this size: the library would allocate again", page, true},
        {"room by less than the library's margin", page + 8, true},
        {"room to spare", page + page / 8, false},
        {"room for a larger frame", shadow_ext_planar_plane(1280, 800), false},
    };
    for (const Case& c : cases) {
        const auto growth = shadow_ext_planar_growth(c.room, 1200, 720);
        EXPECT_EQ(growth.has_value(), c.grows) << c.what;
        if (growth) {
            EXPECT_EQ(growth->room, shadow_ext_planar_plane(growth->width, growth->height));
            EXPECT_FALSE(shadow_ext_planar_growth(growth->room, 1200, 720)) << c.what;
        }
    }
    EXPECT_FALSE(shadow_ext_planar_growth(0, 0, 720)) << "an empty frame";
}

// A frame size again, a smaller one and a larger one: one growth each time
// the room ran out, and each picture decodes to its source.
TEST(PlanarRoom, ResetsWithRoomKeepEveryPictureExact) {
    const auto encode = reinterpret_cast<BYTE* (*)(BITMAP_PLANAR_CONTEXT*, const BYTE*, UINT32,
                                                   UINT32, UINT32, UINT32, BYTE*, UINT32*)>(
        dlsym(libfreerdp(), "freerdp_bitmap_compress_planar"));
    ASSERT_NE(encode, nullptr);
    // Raw planes: FreeRDP 3.15's run-length encoder damages some pictures of
    // its own accord (planar_check.h), which is not what this looks for.
    BITMAP_PLANAR_CONTEXT* encoder =
        freerdp_bitmap_planar_context_new(PLANAR_FORMAT_HEADER_NA, 64, 64);
    ASSERT_NE(encoder, nullptr);
    gResets.clear();
    struct Frame {
        UINT32 width, height;
        size_t resets; // the library's resets for this frame
    } const frames[] = {{300, 200, 2}, {300, 200, 1}, {120, 90, 1}, {301, 203, 1}, {640, 400, 2}};
    for (const Frame& f : frames) {
        const size_t before = gResets.size();
        ASSERT_TRUE(shadow_ext_planar_reset_with_room(countingReset, encoder, f.width, f.height));
        EXPECT_EQ(gResets.size() - before, f.resets) << f.width << "x" << f.height;
        std::vector<UINT32> source(size_t{f.width} * f.height);
        for (size_t i = 0; i < source.size(); ++i)
            source[i] =
                0xFF000000u | UINT32((i * 2654435761u) >> 8 & 0xFFFFFFu) * ((i / f.width) % 3 == 0);
        UINT32 size = 0;
        BYTE* encoded = encode(encoder, reinterpret_cast<const BYTE*>(source.data()),
                               PIXEL_FORMAT_BGRX32, f.width, f.height, f.width * 4, nullptr, &size);
        ASSERT_NE(encoded, nullptr);
        std::vector<UINT32> decoded(source.size());
        BITMAP_PLANAR_CONTEXT* decoder = freerdp_bitmap_planar_context_new(0, f.width, f.height);
        ASSERT_NE(decoder, nullptr);
        const BOOL decodes = planar_decompress(
            decoder, encoded, size, f.width, f.height, reinterpret_cast<BYTE*>(decoded.data()),
            PIXEL_FORMAT_BGRX32, f.width * 4, 0, 0, f.width, f.height, TRUE);
        freerdp_bitmap_planar_context_free(decoder);
        std::free(encoded);
        ASSERT_TRUE(decodes) << f.width << "x" << f.height;
        for (size_t i = 0; i < source.size(); ++i)
            ASSERT_EQ(decoded[i] & 0xFFFFFF, source[i] & 0xFFFFFF)
                << f.width << "x" << f.height << " at " << i;
    }
    freerdp_bitmap_planar_context_free(encoder);
}

} // namespace
