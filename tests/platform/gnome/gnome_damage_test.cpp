// Damage metadata placed on its picture: in the picture's own coordinates
// (mutter 44-47, a monitor at the desktop's origin) or where a virtual
// monitor sits on the desktop (mutter 48), learnt from full repaints.
#include <gtest/gtest.h>

#include "platform/gnome/gnome_damage.h"

namespace corvane::platform::gnome {
namespace {

using Rects = std::vector<Rect>;
constexpr int32_t kW = 1024, kH = 768;

struct Step {
    Rects damage;
    std::optional<Rects> placed; // nullopt: the picture must be compared
    bool resetFirst = false;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
};

const Case kCases[] = {
    {"local damage is kept, clipped to the picture",
     {{{{10, 10, 50, 50}, {1000, 700, 100, 100}}, Rects{{10, 10, 50, 50}, {1000, 700, 24, 68}}}}},
    {"a virtual monitor right of the real one",
     {{{{1280, 0, kW, kH}}, Rects{{0, 0, kW, kH}}},
      {{{1300, 20, 100, 50}, {2300, 760, 10, 10}}, Rects{{20, 20, 100, 50}, {1020, 760, 4, 8}}}}},
    {"desktop damage before any full repaint is not guessed at",
     {{{{1300, 20, 100, 50}}, std::nullopt}}},
    {"a full repaint after the monitor moved teaches the new place",
     {{{{1280, 0, kW, kH}}, Rects{{0, 0, kW, kH}}},
      {{{2304, 0, kW, kH}, {2400, 10, 5, 5}}, Rects{{0, 0, kW, kH}}},
      {{{0, 0, kW, kH}}, Rects{{0, 0, kW, kH}}},
      {{{30, 40, 5, 5}}, Rects{{30, 40, 5, 5}}}}},
    {"a repaint without a clip leaves damage that fits both origins unplaced",
     {{{{512, 0, kW, kH}}, Rects{{0, 0, kW, kH}}},
      {{{0, 0, kW, kH}}, Rects{{0, 0, kW, kH}}},
      {{{600, 10, 50, 50}}, std::nullopt},
      {{{1400, 10, 5, 5}}, Rects{{888, 10, 5, 5}}},
      {{{600, 10, 50, 50}}, std::nullopt}}},
    {"damage off the picture after an unannounced move",
     {{{{1280, 0, kW, kH}}, Rects{{0, 0, kW, kH}}},
      {{{20, 20, 10, 10}, {2400, 20, 10, 10}}, std::nullopt}}},
    {"a new size forgets the place",
     {{{{1280, 0, kW, kH}}, Rects{{0, 0, kW, kH}}}, {{{1300, 20, 10, 10}}, std::nullopt, true}}},
    {"numbers at the ends of the range",
     {{{{INT32_MIN, INT32_MIN, 65536, 65536}}, std::nullopt},
      {{{INT32_MAX, 0, 65536, 10}}, std::nullopt}}},
};

TEST(GnomeDamagePlacer, PlacesDamageOnItsPicture) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        GnomeDamagePlacer placer;
        int step = 0;
        for (const Step& s : c.steps) {
            SCOPED_TRACE(step++);
            if (s.resetFirst)
                placer.reset();
            EXPECT_EQ(placer.place(s.damage, kW, kH), s.placed);
        }
    }
}

} // namespace
} // namespace corvane::platform::gnome
