// Which parts of a changed region go to the client as fills.
#include <gtest/gtest.h>

#include "server/shadow/ext/solid_tiles.h"

namespace {

constexpr UINT32 kWidth = 256;
constexpr UINT32 kHeight = 128;
constexpr UINT32 kBlue = 0x3366cc;
constexpr UINT32 kRed = 0xcc3322;

struct Image {
    std::vector<UINT32> pixels = std::vector<UINT32>(kWidth * kHeight, kBlue | 0xFF000000);
    void set(UINT32 x, UINT32 y, UINT32 pixel) { pixels[y * kWidth + x] = pixel; }
    const BYTE* data() const { return reinterpret_cast<const BYTE*>(pixels.data()); }
};

std::string text(const RECTANGLE_16& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

struct Case {
    const char* what;
    std::function<void(Image&)> paint;
    std::vector<RECTANGLE_16> changed;
    std::vector<std::string> solids; // "rect=pixel"
    std::vector<std::string> rest;
};

TEST(SolidTiles, FlatTilesBecomeFillsAndTheRestIsEncoded) {
    const Case cases[] = {
        {"all one colour: a fill per row of tiles, the fourth byte ignored",
         [](Image& i) { i.set(5, 5, kBlue); },
         {{0, 0, 256, 128}},
         {"0,0-256,64=3366cc", "0,64-256,128=3366cc"},
         {}},
        {"one odd pixel: its tile is encoded, its neighbours filled",
         [](Image& i) { i.set(70, 10, kRed); },
         {{0, 0, 256, 128}},
         {"0,0-64,64=3366cc", "128,0-256,64=3366cc", "0,64-256,128=3366cc"},
         {"64,0-128,64"}},
        {"off the grid: cut on the grid, pieces in a row joined",
         [](Image&) {},
         {{30, 50, 100, 70}},
         {"30,50-100,64=3366cc", "30,64-100,70=3366cc"},
         {}},
        {"two colours side by side: a fill each",
         [](Image& i) {
             for (UINT32 y = 0; y < 64; ++y)
                 for (UINT32 x = 128; x < 256; ++x)
                     i.set(x, y, kRed);
         },
         {{0, 0, 256, 64}},
         {"0,0-128,64=3366cc", "128,0-256,64=cc3322"},
         {}},
    };
    for (const Case& c : cases) {
        Image image;
        c.paint(image);
        const ShadowExtTiles tiles =
            shadow_ext_split_solid_tiles(c.changed, image.data(), kWidth * 4);
        std::vector<std::string> solids;
        for (const ShadowExtSolid& s : tiles.solids) {
            char pixel[16];
            std::snprintf(pixel, sizeof pixel, "%06x", s.pixel);
            solids.push_back(text(s.rect) + "=" + pixel);
        }
        std::vector<std::string> rest;
        for (const RECTANGLE_16& r : tiles.rest)
            rest.push_back(text(r));
        EXPECT_EQ(solids, c.solids) << c.what;
        EXPECT_EQ(rest, c.rest) << c.what;
    }
}

} // namespace
