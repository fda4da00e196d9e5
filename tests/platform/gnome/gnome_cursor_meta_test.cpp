// Cursor bitmaps from PipeWire's metadata.
#include <gtest/gtest.h>

#include "platform/gnome/gnome_cursor_meta.h"

using namespace corvane::platform;
using namespace corvane::platform::gnome;

namespace {

// One pixel whose channels are all different, so that a swapped channel
// shows: blue 0x40, green 0x80, red 0xC0, alpha 0x7F (about half).
struct Order {
    GnomeCursorPixelOrder order;
    std::vector<uint8_t> pixel;
    const char* name;
};
const Order kOrders[] = {
    {GnomeCursorPixelOrder::BGRA, {0x40, 0x80, 0xC0, 0x7F}, "BGRA"},
    {GnomeCursorPixelOrder::RGBA, {0xC0, 0x80, 0x40, 0x7F}, "RGBA"},
    {GnomeCursorPixelOrder::ARGB, {0x7F, 0xC0, 0x80, 0x40}, "ARGB"},
    {GnomeCursorPixelOrder::ABGR, {0x7F, 0x40, 0x80, 0xC0}, "ABGR"},
};

GnomeCursorBitmap bitmapOf(const std::vector<uint8_t>& bytes, int32_t w, int32_t h,
                           int32_t stride) {
    GnomeCursorBitmap b;
    b.order = GnomeCursorPixelOrder::BGRA;
    b.premultiplied = true;
    b.width = w;
    b.height = h;
    b.stride = stride;
    b.pixels = bytes.data();
    b.size = bytes.size();
    return b;
}

} // namespace

TEST(GnomeCursorMeta, EveryOrderBecomesPremultipliedBgra) {
    for (const auto& o : kOrders) {
        for (bool premultiplied : {true, false}) {
            GnomeCursorBitmap b = bitmapOf(o.pixel, 1, 1, 4);
            b.order = o.order;
            b.premultiplied = premultiplied;
            const auto image = gnomeCursorImage(b);
            ASSERT_TRUE(image) << o.name;
            ASSERT_EQ(image->representations.size(), 1u);
            // 0xC0 * 0x7F / 255 rounds to 0x60; 0x80 to 0x40; 0x40 to 0x20.
            const std::vector<uint8_t> expected =
                premultiplied ? std::vector<uint8_t>{0x40, 0x80, 0xC0, 0x7F}
                              : std::vector<uint8_t>{0x20, 0x40, 0x60, 0x7F};
            EXPECT_EQ(image->representations[0].bgra, expected)
                << o.name << (premultiplied ? " premultiplied" : " straight");
        }
    }
}

TEST(GnomeCursorMeta, AlphaExtremesArePremultipliedExactly) {
    const std::vector<uint8_t> pixels = {0xFF, 0x10, 0x20, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    GnomeCursorBitmap b = bitmapOf(pixels, 2, 1, 8);
    b.premultiplied = false;
    const auto image = gnomeCursorImage(b);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->representations[0].bgra,
              (std::vector<uint8_t>{0xFF, 0x10, 0x20, 0xFF, 0x00, 0x00, 0x00, 0x00}));
}

// Rows padded past their pixels: the padding is skipped, not copied.
TEST(GnomeCursorMeta, StridePaddingIsSkippedAndGeometryKept) {
    std::vector<uint8_t> bytes(3 * 12 - 4, 0xEE); // the last row needs no padding
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x)
            for (int c = 0; c < 4; ++c)
                bytes[y * 12 + x * 4 + c] = static_cast<uint8_t>(y * 16 + x * 4 + c);
    GnomeCursorBitmap b = bitmapOf(bytes, 2, 3, 12);
    b.hotX = 1;
    b.hotY = 2;
    const auto image = gnomeCursorImage(b);
    ASSERT_TRUE(image);
    const auto& rep = image->representations[0];
    EXPECT_EQ(rep.pixelWidth, 2);
    EXPECT_EQ(rep.pixelHeight, 3);
    ASSERT_EQ(rep.bgra.size(), 24u);
    for (int y = 0; y < 3; ++y)
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(rep.bgra[y * 8 + i], y * 16 + i) << "row " << y << " byte " << i;
    EXPECT_EQ(image->pointsWidth, 2);
    EXPECT_EQ(image->pointsHeight, 3);
    EXPECT_EQ(image->hotX, 1);
    EXPECT_EQ(image->hotY, 2);
}

TEST(GnomeCursorMeta, ScaleTurnsPixelsIntoPoints) {
    const std::vector<uint8_t> bytes(4 * 4 * 4, 0);
    GnomeCursorBitmap b = bitmapOf(bytes, 4, 4, 16);
    b.hotX = 3;
    b.hotY = 1;
    const auto image = gnomeCursorImage(b, 2.0);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pointsWidth, 2);
    EXPECT_EQ(image->hotX, 1.5);
    EXPECT_EQ(image->hotY, 0.5);
    EXPECT_EQ(image->representations[0].pixelWidth, 4);
}

TEST(GnomeCursorMeta, BitmapsThatDescribeNoImageAreRefused) {
    const std::vector<uint8_t> bytes(64, 0);
    const struct {
        int32_t w, h, stride;
        size_t size;
        double scale;
        bool nullPixels;
        const char* what;
    } cases[] = {
        {0, 4, 16, 64, 1, false, "no width"},
        {4, 0, 16, 64, 1, false, "no height"},
        {-1, 4, 16, 64, 1, false, "negative width"},
        {4, 4, 12, 64, 1, false, "stride shorter than a row"},
        {4, 4, -16, 64, 1, false, "negative stride"},
        {4, 4, 16, 63, 1, false, "last row past the buffer"},
        {4, 5, 16, 64, 1, false, "more rows than the buffer"},
        {4, 4, 16, 64, 1, true, "no pixels"},
        {4, 4, 16, 64, 0, false, "zero scale"},
        {4, 4, 16, 64, -1, false, "negative scale"},
        {kGnomeCursorMaxSide + 1, 1, (kGnomeCursorMaxSide + 1) * 4, 64, 1, false, "too wide"},
    };
    for (const auto& c : cases) {
        GnomeCursorBitmap b = bitmapOf(bytes, c.w, c.h, c.stride);
        b.size = c.size;
        if (c.nullPixels)
            b.pixels = nullptr;
        EXPECT_FALSE(gnomeCursorImage(b, c.scale)) << c.what;
    }
    // The exact fit is accepted: a last row without padding.
    GnomeCursorBitmap fit = bitmapOf(bytes, 4, 4, 16);
    EXPECT_TRUE(gnomeCursorImage(fit));
}

TEST(GnomeCursorSerial, TheSeedMovesWithTheShapeOnly) {
    std::vector<uint8_t> bytes(16, 0x80);
    const auto arrow = *gnomeCursorImage(bitmapOf(bytes, 2, 2, 8));
    bytes[5] = 0x10;
    const auto changedPixel = *gnomeCursorImage(bitmapOf(bytes, 2, 2, 8));
    auto movedHotSpot = arrow;
    movedHotSpot.hotX = 1;
    const auto otherSize = *gnomeCursorImage(bitmapOf(bytes, 4, 1, 16));

    GnomeCursorSerial serial;
    const int32_t first = serial.note(arrow);
    EXPECT_GE(first, 0);
    EXPECT_EQ(serial.note(arrow), first) << "the same shape sent again";
    const int32_t second = serial.note(changedPixel);
    EXPECT_NE(second, first) << "one pixel changed";
    const int32_t third = serial.note(movedHotSpot);
    EXPECT_NE(third, second) << "hot spot moved";
    const int32_t fourth = serial.note(otherSize);
    EXPECT_NE(fourth, third) << "same bytes, other size";
    const int32_t hidden = serial.noteHidden();
    EXPECT_NE(hidden, fourth) << "the cursor was hidden";
    EXPECT_EQ(serial.noteHidden(), hidden);
    const int32_t back = serial.note(arrow);
    EXPECT_NE(back, hidden) << "a shape coming back is a change too";
    EXPECT_EQ(serial.seed(), back);
    for (int32_t s : {first, second, third, fourth, hidden, back})
        EXPECT_GE(s, 0);
}
