// The X11 frame pool without an X server: the picture is scaled whenever the
// destination differs from the captured region in either dimension, and no
// more frames than the queue depth are out at once.
#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/frame_pool.h"

namespace corvane::platform::linuxos {
namespace {

TEST(FramePoolScaling, DestinationDifferingInOneDimensionOnlyIsScaled) {
    constexpr uint32_t kRed = 0xff0000, kBlue = 0x0000ff;
    for (const bool alongWidth : {true, false}) {
        // A 4 x 2 (or 2 x 4) region, red in its first half and blue in its
        // second, into a 2 x 2 destination.
        const int32_t rw = alongWidth ? 4 : 2, rh = alongWidth ? 2 : 4;
        std::vector<uint32_t> mirror(static_cast<size_t>(rw * rh));
        for (int32_t y = 0; y < rh; ++y)
            for (int32_t x = 0; x < rw; ++x)
                mirror[static_cast<size_t>(y * rw + x)] = ((alongWidth ? x : y) < 2 ? kRed : kBlue);
        CaptureSettings settings;
        settings.width = settings.height = 2;
        settings.destination = Rect{0, 0, 2, 2};
        settings.queueDepth = 1;
        FramePool pool(rw, rh, settings, [] {});
        pixman_region32_t dirty;
        pixman_region32_init_rect(&dirty, 0, 0, 2, 2);
        FrameHandle frame =
            pool.fill(reinterpret_cast<const uint8_t*>(mirror.data()), rw * 4, nullptr, dirty);
        pixman_region32_fini(&dirty);
        ASSERT_TRUE(frame);
        const auto* px = reinterpret_cast<const uint32_t*>(frame->pixels);
        // Copied unscaled, the second pixel would be the region's second
        // (red) one instead of a sample of its blue half.
        EXPECT_EQ(px[0] & 0xffffff, kRed) << (alongWidth ? "width" : "height");
        EXPECT_EQ(px[alongWidth ? 1 : 2] & 0xffffff, kBlue) << (alongWidth ? "width" : "height");
    }
}

// While both frames of a pool of two are held there is no third; a buffer
// that comes back is brought up to date with what changed meanwhile.
TEST(FramePoolDepth, NoThirdFrameWhileTwoAreHeldAndAReturnedBufferCatchesUp) {
    constexpr int32_t kWidth = 4;
    std::vector<uint32_t> mirror(kWidth, 0x000000);
    CaptureSettings settings;
    settings.width = kWidth;
    settings.height = 1;
    settings.queueDepth = 2;
    int released = 0;
    FramePool pool(kWidth, 1, settings, [&] { ++released; });
    const auto fill = [&](int32_t x, int32_t width) {
        pixman_region32_t dirty;
        pixman_region32_init_rect(&dirty, x, 0, unsigned(width), 1);
        pool.invalidate(dirty);
        FrameHandle frame =
            pool.fill(reinterpret_cast<const uint8_t*>(mirror.data()), kWidth * 4, nullptr, dirty);
        pixman_region32_fini(&dirty);
        return frame;
    };
    FrameHandle first = fill(0, kWidth);
    FrameHandle second = fill(0, kWidth);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(pool.hasFreeBuffer());
    mirror[3] = 0xffffff;
    EXPECT_FALSE(fill(3, 1)) << "a third frame while two are held";
    first.reset();
    EXPECT_EQ(released, 1);
    ASSERT_TRUE(pool.hasFreeBuffer());
    FrameHandle third = fill(0, 0);
    ASSERT_TRUE(third);
    const auto* px = reinterpret_cast<const uint32_t*>(third->pixels);
    EXPECT_EQ(px[3] & 0xffffff, 0xffffffu) << "the change made while the queue was full was lost";
}

} // namespace
} // namespace corvane::platform::linuxos
