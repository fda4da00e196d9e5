// The X11 frame pool without an X server: the picture is scaled whenever the
// destination differs from the captured region in either dimension.
#include <gtest/gtest.h>

#include <vector>

#include "platform/x11/x11_capture_frames.h"

namespace corvane::platform::x11 {
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

} // namespace
} // namespace corvane::platform::x11
