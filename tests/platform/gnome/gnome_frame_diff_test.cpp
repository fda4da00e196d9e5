// Changed rectangles: damage metadata placed on its picture, in the
// picture's own coordinates (mutter 44-47, a monitor at the desktop's origin)
// or where a virtual monitor sits on the desktop (mutter 48), learnt from full
// repaints; rectangles from comparing two pictures; when a run of compared
// changes asks for one more picture; and the byte order of cursor bitmaps.
#include <gtest/gtest.h>

#include <spa/param/video/raw.h>

#include "platform/gnome/gnome_damage.h"
#include "platform/gnome/gnome_frame_diff.h"
#include "platform/gnome/gnome_pipewire.h"
#include "platform/gnome/gnome_settle.h"

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
     {{{{1280, 0, kW, kH}}, std::nullopt},
      {{{1300, 20, 100, 50}, {2300, 760, 10, 10}}, Rects{{20, 20, 100, 50}, {1020, 760, 4, 8}}}}},
    {"a real monitor's pictures all marked whole are compared, each one",
     {{{{0, 0, kW, kH}}, std::nullopt},
      {{{0, 0, kW, kH}}, std::nullopt},
      {{{10, 10, 5, 5}}, Rects{{10, 10, 5, 5}}}}},
    {"desktop damage before any full repaint is not guessed at",
     {{{{1300, 20, 100, 50}}, std::nullopt}}},
    {"a full repaint after the monitor moved teaches the new place",
     {{{{1280, 0, kW, kH}}, std::nullopt},
      {{{2304, 0, kW, kH}, {2400, 10, 5, 5}}, std::nullopt},
      {{{0, 0, kW, kH}}, std::nullopt},
      {{{30, 40, 5, 5}}, Rects{{30, 40, 5, 5}}}}},
    {"a repaint without a clip leaves damage that fits both origins unplaced",
     {{{{512, 0, kW, kH}}, std::nullopt},
      {{{0, 0, kW, kH}}, std::nullopt},
      {{{600, 10, 50, 50}}, std::nullopt},
      {{{1400, 10, 5, 5}}, Rects{{888, 10, 5, 5}}},
      {{{600, 10, 50, 50}}, std::nullopt}}},
    {"damage off the picture after an unannounced move",
     {{{{1280, 0, kW, kH}}, std::nullopt},
      {{{20, 20, 10, 10}, {2400, 20, 10, 10}}, std::nullopt}}},
    {"a new size forgets the place",
     {{{{1280, 0, kW, kH}}, std::nullopt}, {{{1300, 20, 10, 10}}, std::nullopt, true}}},
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

struct Picture {
    int32_t width, height;
    std::vector<uint32_t> pixels;
    Picture(int32_t w, int32_t h) : width(w), height(h), pixels(size_t(w) * h, 0xff000000u) {}
    void set(int32_t x, int32_t y) { pixels[size_t(y) * width + x] ^= 0x00ffffffu; }
    const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(pixels.data()); }
};

std::vector<Rect> diff(const Picture& before, const Picture& after, int32_t tile) {
    return gnomeChangedRects(before.bytes(), before.width * 4, after.bytes(), after.width * 4,
                             before.width, before.height, tile);
}

TEST(GnomeFrameDiff, ChangedPixelsBecomeMergedTileRectangles) {
    struct Case {
        const char* name;
        int32_t width, height, tile;
        std::vector<std::pair<int, int>> changed;
        std::vector<Rect> expected;
    };
    const std::vector<Case> cases = {
        {"nothing changed", 256, 128, 64, {}, {}},
        {"one pixel", 256, 128, 64, {{70, 10}}, {{64, 0, 64, 64}}},
        {"last pixel of a ragged edge", 100, 70, 64, {{99, 69}}, {{64, 64, 36, 6}}},
        {"neighbours on a row merge", 256, 64, 64, {{10, 5}, {70, 5}}, {{0, 0, 128, 64}}},
        {"a gap keeps them apart",
         256,
         64,
         64,
         {{10, 5}, {200, 5}},
         {{0, 0, 64, 64}, {192, 0, 64, 64}}},
        {"same columns below merge", 128, 192, 64, {{5, 5}, {5, 70}, {5, 150}}, {{0, 0, 64, 192}}},
        {"a different span below starts anew",
         128,
         128,
         64,
         {{5, 5}, {5, 70}, {70, 70}},
         {{0, 0, 64, 64}, {0, 64, 128, 64}}},
        {"a whole-frame change is one rectangle",
         128,
         128,
         64,
         {{0, 0}, {64, 0}, {0, 64}, {64, 64}},
         {{0, 0, 128, 128}}},
        {"small tiles", 8, 8, 2, {{3, 3}}, {{2, 2, 2, 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Picture before(c.width, c.height), after(c.width, c.height);
        for (auto [x, y] : c.changed)
            after.set(x, y);
        EXPECT_EQ(diff(before, after, c.tile), c.expected);
    }
}

// The comparison looks at every byte: a change of one channel counts, and
// the stride's padding does not.
TEST(GnomeFrameDiff, OneChannelCountsAndStridePaddingDoesNot) {
    const int32_t w = 64, h = 2, stride = w * 4 + 16;
    std::vector<uint8_t> before(size_t(stride) * h, 0), after(size_t(stride) * h, 0);
    after[size_t(stride) - 1] = 0x55; // padding of row 0
    EXPECT_TRUE(gnomeChangedRects(before.data(), stride, after.data(), stride, w, h, 64).empty());
    after[size_t(stride) + 4 * 63 + 2] = 1; // the red byte of the last pixel of row 1
    EXPECT_EQ(gnomeChangedRects(before.data(), stride, after.data(), stride, w, h, 64),
              (std::vector<Rect>{{0, 0, 64, 2}}));
}

// The SPA formats of cursor bitmaps map onto the byte orders the cursor
// translation takes; formats without alpha are not cursors.
// Each step: a changing picture at `change` ms (or none; `large` for a
// quarter of the picture or more) with the pointer at `place`, then the watch
// is asked at `ask` ms with the pointer at `now`; `due` is its answer.
TEST(GnomeSettleWatch, ARunOfChangesThatWentQuietWantsOneRepaint) {
    struct Step {
        int change; // -1: none
        int ask;
        bool due;
        uint64_t place = 7, now = 7;
        bool large = false;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const int quiet = int(kGnomeSettleQuiet.count());
    const Case cases[] = {
        {"two changes, then quiet: once",
         {{0, 10, false},
          {100, 100 + quiet - 1, false},
          {-1, 100 + quiet, true},
          {-1, 1000, false}}},
        {"one small change alone: never", {{0, quiet, false}, {-1, 5000, false}}},
        {"one large change alone: once",
         {{0, quiet - 1, false, 7, 7, true}, {-1, quiet, true}, {-1, 5000, false}}},
        {"changes still coming: not yet",
         {{0, 0, false}, {200, 0 + quiet, false}, {-1, 200 + quiet, true}}},
        {"a new run after a repaint: again",
         {{0, 0, false}, {50, 50 + quiet, true}, {1000, 1000, false}, {1100, 1100 + quiet, true}}},
        {"a lone change after a repaint starts no run",
         {{0, 0, false}, {50, 50 + quiet, true}, {1000, 1000 + quiet, false}}},
        {"the pointer moved after the run: no repaint, and the run is over",
         {{0, 0, false}, {50, 50 + quiet, false, 7, 8}, {-1, 5000, false, 7, 7}}},
        {"the pointer moved during the run: only its place at the last change counts",
         {{0, 0, false, 3, 3}, {50, 50 + quiet, true, 7, 7}}},
    };
    for (const Case& c : cases) {
        GnomeSettleWatch watch;
        const GnomeSettleWatch::Time start{};
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            if (s.change >= 0)
                watch.changed(start + std::chrono::milliseconds(s.change), s.place, s.large);
            EXPECT_EQ(watch.due(start + std::chrono::milliseconds(s.ask), s.now), s.due)
                << c.name << ", step " << i;
        }
    }
}

TEST(GnomeCursorBitmap, SpaFormatsNameTheirByteOrder) {
    struct Case {
        uint32_t format;
        std::optional<GnomeCursorPixelOrder> order;
    };
    const std::vector<Case> cases = {
        {SPA_VIDEO_FORMAT_RGBA, GnomeCursorPixelOrder::RGBA},
        {SPA_VIDEO_FORMAT_BGRA, GnomeCursorPixelOrder::BGRA},
        {SPA_VIDEO_FORMAT_ARGB, GnomeCursorPixelOrder::ARGB},
        {SPA_VIDEO_FORMAT_ABGR, GnomeCursorPixelOrder::ABGR},
        {SPA_VIDEO_FORMAT_BGRx, std::nullopt},
        {SPA_VIDEO_FORMAT_RGB, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(gnomeCursorOrder(c.format), c.order);
    }
}

} // namespace
} // namespace corvane::platform::gnome
