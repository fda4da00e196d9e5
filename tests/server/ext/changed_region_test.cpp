// The rectangles a changed-region frame is encoded as.
#include <gtest/gtest.h>

#include "server/shadow/ext/changed_region.h"

namespace {

bool operator==(const RECTANGLE_16& a, const RECTANGLE_16& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

struct Case {
    const char* what;
    std::vector<RECTANGLE_16> in;
    size_t maxRects;
    std::vector<RECTANGLE_16> out;
};

TEST(ChangedRegion, RectanglesAreClippedToTheSurfaceAndManyBecomeTheirBox) {
    const Case cases[] = {
        {"inside: unchanged", {{10, 20, 30, 40}, {100, 20, 130, 40}}, 4,
         {{10, 20, 30, 40}, {100, 20, 130, 40}}},
        {"over the edge: clipped", {{600, 400, 700, 500}}, 4, {{600, 400, 640, 480}}},
        {"outside or empty: left out", {{700, 10, 720, 20}, {5, 5, 5, 9}}, 4, {}},
        {"over the limit: one bounding box",
         {{10, 10, 20, 20}, {300, 10, 310, 20}, {50, 200, 60, 700}},
         2,
         {{10, 10, 310, 480}}},
    };
    for (const Case& c : cases) {
        const auto got = shadow_ext_clip_rects(c.in.data(), c.in.size(), 640, 480, c.maxRects);
        ASSERT_EQ(got.size(), c.out.size()) << c.what;
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(got[i] == c.out[i]) << c.what << " #" << i;
    }
}

// Planar bitmaps 1 or 2 pixels wide do not decode on FreeRDP 3.10's client.
TEST(ChangedRegion, NarrowPlanarRectanglesAreWidenedWithinTheSurface) {
    std::vector<RECTANGLE_16> rects = {
        {10, 5, 11, 9}, {100, 0, 102, 1}, {20, 7, 60, 8}, {638, 3, 640, 90}};
    shadow_ext_widen_planar_rects(&rects, 640);
    const std::vector<RECTANGLE_16> widened = {
        {10, 5, 14, 9}, {100, 0, 104, 1}, {20, 7, 60, 8}, {636, 3, 640, 90}};
    ASSERT_EQ(rects.size(), widened.size());
    for (size_t i = 0; i < rects.size(); ++i)
        EXPECT_TRUE(rects[i] == widened[i]) << "#" << i;
}

// A RemoteFX frame's strips uncovered by scrolls and pans go planar; what is
// thicker than that both ways stays with RemoteFX.
TEST(ChangedRegion, ThinRectanglesOfARemoteFxFrameAreTakenOut) {
    std::vector<RECTANGLE_16> rects = {
        {40, 700, 1240, 708}, // a page scrolled 8 rows
        {40, 40, 1240, 700},  // the rest of the page
        {600, 40, 616, 760},  // a pan's strip, as thick as allowed
        {0, 0, 17, 17},       // just too thick either way
    };
    const std::vector<RECTANGLE_16> thin = shadow_ext_take_thin_rects(&rects);
    const std::vector<RECTANGLE_16> wantThin = {{40, 700, 1240, 708}, {600, 40, 616, 760}};
    const std::vector<RECTANGLE_16> wantRest = {{40, 40, 1240, 700}, {0, 0, 17, 17}};
    ASSERT_EQ(thin.size(), wantThin.size());
    ASSERT_EQ(rects.size(), wantRest.size());
    for (size_t i = 0; i < thin.size(); ++i)
        EXPECT_TRUE(thin[i] == wantThin[i]) << "thin #" << i;
    for (size_t i = 0; i < rects.size(); ++i)
        EXPECT_TRUE(rects[i] == wantRest[i]) << "rest #" << i;
}

} // namespace
