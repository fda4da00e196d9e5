// Pointer motion goes to the stream under the pointer, in that stream's own
// coordinates: the real monitor at 0,0 and two virtual monitors to its right.
#include <gtest/gtest.h>

#include "platform/gnome/gnome_stream_map.h"

namespace corvane::platform::gnome {
namespace {

const std::vector<GnomeStreamPlace> kLayout = {
    {"/real", 0, 0, 1280, 800},
    {"/virtual-a", 1280, 0, 1024, 768},
    {"/virtual-b", 2304, 0, 800, 600},
};

struct Case {
    const char* what;
    PointF at;
    const char* stream;
    double x, y;
};

TEST(GnomeStreamMap, PicksTheStreamUnderThePointAndMovesThePointIntoIt) {
    const Case cases[] = {
        {"inside the real monitor", {100, 50}, "/real", 100, 50},
        {"the first virtual monitor's corner", {1280, 0}, "/virtual-a", 0, 0},
        {"inside the first virtual monitor", {1800.5, 400.25}, "/virtual-a", 520.5, 400.25},
        {"the last pixel of the first virtual monitor", {2303, 767}, "/virtual-a", 1023, 767},
        {"the second virtual monitor's first column", {2304, 10}, "/virtual-b", 0, 10},
        {"below the short first virtual monitor: the nearest is itself",
         {1500, 790},
         "/virtual-a",
         220,
         767},
        {"left of everything", {-40, 300}, "/real", 0, 300},
        {"right of everything", {4000, 100}, "/virtual-b", 799, 100},
        {"just below the last monitor", {2500, 650}, "/virtual-b", 196, 599},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto got = gnomeStreamAt(kLayout, c.at);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->streamPath, c.stream);
        EXPECT_DOUBLE_EQ(got->x, c.x);
        EXPECT_DOUBLE_EQ(got->y, c.y);
    }
}

TEST(GnomeStreamMap, StreamsWithoutASizeAreNeverChosen) {
    const std::vector<GnomeStreamPlace> layout = {{"/unsized", 0, 0, 0, 0},
                                                  {"/sized", 500, 0, 100, 100}};
    const auto got = gnomeStreamAt(layout, {10, 10});
    ASSERT_TRUE(got);
    EXPECT_EQ(got->streamPath, "/sized");
    EXPECT_DOUBLE_EQ(got->x, 0);
    EXPECT_FALSE(gnomeStreamAt({{"/unsized", 0, 0, 0, 0}}, {0, 0}));
    EXPECT_FALSE(gnomeStreamAt({}, {0, 0}));
}

} // namespace
} // namespace corvane::platform::gnome
