// Initial desktop size and the real screen's place in it.
#include <gtest/gtest.h>

#include "server/shadow/Mac/layout/desktop_size.h"

using corvane::platform::MainDisplayInfo;

namespace {
const MainDisplayInfo kRetina{2880, 1800, 1440, 900};
const MainDisplayInfo kPlain{1920, 1080, 1920, 1080};
} // namespace

TEST(InitialDesktop, OddScaledSizeRoundsDownToEven) {
    const InitialDesktop d = mac_shadow_initial_desktop({2882, 1802, 1441, 901}, 0.33);
    EXPECT_EQ(d.width % 2, 0);
    EXPECT_EQ(d.height % 2, 0);
    EXPECT_EQ(d.width, 950);  // 951.06 -> 951 -> 950
    EXPECT_EQ(d.height, 594); // 594.66 -> 594
}

TEST(InitialDesktop, PlainDisplayUsesPixelsAndIgnoresScale) {
    const InitialDesktop d = mac_shadow_initial_desktop(kPlain, 0.5);
    EXPECT_FALSE(d.hidpi);
    EXPECT_EQ(d.width, 1920);
    EXPECT_EQ(d.height, 1080);
}

TEST(InitialDesktop, FractionalScaledDisplayIsNotHiDpi) {
    // 1.5x: pixel / point width in whole numbers is 1
    const InitialDesktop d = mac_shadow_initial_desktop({2880, 1800, 1920, 1200}, 0);
    EXPECT_FALSE(d.hidpi);
    EXPECT_EQ(d.width, 2880);
    EXPECT_DOUBLE_EQ(d.pointsPerPixel, 1920.0 / 2880.0);
}

TEST(InitialDesktop, MissingPointSizeKeepsWholeDesktopUnmapped) {
    const InitialDesktop d = mac_shadow_initial_desktop({1280, 800, 0, 0}, 0);
    EXPECT_EQ(d.width, 1280);
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.w, 1280);
    EXPECT_EQ(d.h, 800);
    EXPECT_DOUBLE_EQ(d.pointsPerPixel, 1.0);
}

TEST(EnumSize, CountsAnyDenserDisplayAsHiDpi) {
    EXPECT_EQ(mac_shadow_enum_size(kRetina, 1.0).width, 2880);
    EXPECT_EQ(mac_shadow_enum_size(kRetina, 0).width, 1440);
    const DesktopSize fractional = mac_shadow_enum_size({2880, 1800, 1920, 1200}, 0.5);
    EXPECT_EQ(fractional.width, 1440);
    EXPECT_EQ(fractional.height, 900);
    // A display that is not HiDPI reports its point size.
    EXPECT_EQ(mac_shadow_enum_size({1920, 1080, 1920, 1080}, 1.0).width, 1920);
}
