// mac_cursor_image: scale, cap, representation choice, rounding, hot spot.
#include <cstdlib>

#include "capture/cursor_scale.h"
#include "capture/mac_capture.h"
#include "input_fixture.h"

using corvane::platform::CursorImage;
using corvane::platform::CursorRepresentation;

namespace {

CursorRepresentation solid(int32_t w, int32_t h, uint8_t value) {
    CursorRepresentation rep;
    rep.pixelWidth = w;
    rep.pixelHeight = h;
    rep.bgra.assign(static_cast<size_t>(w) * h * 4, value);
    return rep;
}

CursorImage pointsCursor(double w, double h, double hotX, double hotY) {
    CursorImage image;
    image.pointsWidth = w;
    image.pointsHeight = h;
    image.hotX = hotX;
    image.hotY = hotY;
    return image;
}

struct Picture {
    int32_t result = 0, width = 0, height = 0, hotX = 0, hotY = 0;
    uint8_t firstByte = 0;
};

class CursorImageTest : public input_test::SimRecordTest {
  protected:
    void show(CursorImage image) { sim_->simCursor().setImage(std::move(image)); }
    // A cursor of w x h points drawn once, at that many pixels.
    void showSolid(double w, double h, double hotX = 0, double hotY = 0, uint8_t value = 1) {
        CursorImage image = pointsCursor(w, h, hotX, hotY);
        image.representations.push_back(solid(int32_t(w), int32_t(h), value));
        show(image);
    }
    Picture take(double scale, int32_t maxSize) {
        Picture p;
        uint8_t* pixels = nullptr;
        p.result = mac_cursor_image(scale, maxSize, &pixels, &p.width, &p.height, &p.hotX, &p.hotY);
        if (pixels) {
            p.firstByte = pixels[0];
            std::free(pixels);
        }
        return p;
    }
};

} // namespace

// The size is the point size times the scale (raised to a quarter at
// least), halves rounded away from zero, within the cap (eight at least).
TEST_F(CursorImageTest, ScaleAndCapGiveTheSizes) {
    const struct {
        double pointsWidth, pointsHeight, scale;
        int32_t cap, width, height;
    } cases[] = {
        {16, 16, 2.0, 96, 32, 32}, {16, 16, 2.0, 20, 20, 20}, {16, 16, 0.1, 96, 4, 4},
        {32, 16, 1.0, 0, 8, 4},    {32, 16, 1.0, -5, 8, 4},   {32, 16, 1.0, 8, 8, 4},
        {5, 3, 0.5, 96, 3, 2},
    };
    for (const auto& c : cases) {
        showSolid(c.pointsWidth, c.pointsHeight);
        const Picture p = take(c.scale, c.cap);
        EXPECT_EQ(p.result, 1);
        EXPECT_EQ(p.width, c.width) << c.pointsWidth << " at " << c.scale << " cap " << c.cap;
        EXPECT_EQ(p.height, c.height) << c.pointsHeight << " at " << c.scale << " cap " << c.cap;
    }
}

TEST_F(CursorImageTest, NarrowestRepresentationWideEnoughIsDrawn) {
    CursorImage image = pointsCursor(16, 16, 0, 0);
    image.representations.push_back(solid(64, 64, 64));
    image.representations.push_back(solid(16, 16, 16));
    image.representations.push_back(solid(32, 32, 32));
    show(image);
    EXPECT_EQ(take(2.5, 96).firstByte, 64); // 40 pixels wanted
    EXPECT_EQ(take(5.0, 96).firstByte, 64); // 80 wanted: the widest
    EXPECT_EQ(take(2.0, 96).firstByte, 32); // exactly 32
    EXPECT_EQ(take(1.0, 96).firstByte, 16);
}

TEST_F(CursorImageTest, HotSpotIsScaledAndClampedInside) {
    showSolid(16, 16, 16, -3);
    const Picture p = take(2.0, 96);
    EXPECT_EQ(p.hotX, 31);
    EXPECT_EQ(p.hotY, 0);
    showSolid(16, 16, 4.25, 5);
    const Picture q = take(2.0, 96);
    EXPECT_EQ(q.hotX, 9); // 8.5 rounds away from zero
    EXPECT_EQ(q.hotY, 10);
}

TEST_F(CursorImageTest, NothingIsStoredWithoutACursorOrPictures) {
    EXPECT_EQ(take(1.0, 32).result, 0); // no cursor
    show(pointsCursor(16, 16, 0, 0));   // no representations
    EXPECT_EQ(take(1.0, 32).result, 0);
    CursorImage empty = pointsCursor(0, 16, 0, 0);
    empty.representations.push_back(solid(16, 16, 1));
    show(empty);
    EXPECT_EQ(take(1.0, 32).result, 0);
    showSolid(16, 16);
    int32_t w = 0, h = 0, x = 0;
    EXPECT_EQ(mac_cursor_image(1.0, 32, nullptr, &w, &h, &x, &x), 0);
}

TEST(CursorScale, ShrinkingAveragesAndGrowingKeepsFlatAreas) {
    // 2x1 -> 1x1 averages; 1x1 -> 3x3 repeats.
    const uint8_t two[8] = {0, 0, 0, 0, 200, 100, 50, 255};
    uint8_t one[4] = {};
    mac_cursor::scaleBgra(two, 2, 1, one, 1, 1);
    EXPECT_EQ(one[0], 100);
    EXPECT_EQ(one[1], 50);
    EXPECT_EQ(one[3], 128);
    uint8_t big[36] = {};
    mac_cursor::scaleBgra(two + 4, 1, 1, big, 3, 3);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(big[i * 4 + 2], 50);
}

TEST(CursorScale, GrowingInterpolatesBetweenNeighbours) {
    const uint8_t row[8] = {0, 0, 0, 0, 255, 255, 255, 255};
    uint8_t out[16] = {};
    mac_cursor::scaleBgra(row, 2, 1, out, 4, 1);
    EXPECT_EQ(out[0], 0);  // edge keeps the first pixel
    EXPECT_EQ(out[4], 64); // a quarter of the way
    EXPECT_EQ(out[8], 191);
    EXPECT_EQ(out[12], 255);
}
