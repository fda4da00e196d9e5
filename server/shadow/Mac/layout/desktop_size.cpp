#include "desktop_size.h"

#include <algorithm>

namespace {
int32_t downToEven(int64_t v) {
    return static_cast<int32_t>(v - (v % 2 + 2) % 2);
}
int32_t scaledEven(double scale, int32_t pixels) {
    return downToEven(static_cast<int64_t>(scale * pixels));
}
} // namespace

double mac_shadow_share_scale(bool native, double explicitScale) {
    return explicitScale > 0 ? explicitScale : (native ? 1.0 : 0.0);
}

InitialDesktop mac_shadow_initial_desktop(const corvane::platform::MainDisplayInfo& main,
                                          double shareScale) {
    InitialDesktop d;
    d.hidpi = main.pointsWidth > 0 && main.pixelWidth / main.pointsWidth == 2;
    if (d.hidpi && shareScale > 0) {
        d.width = scaledEven(shareScale, main.pixelWidth);
        d.height = scaledEven(shareScale, main.pixelHeight);
    } else if (d.hidpi) {
        d.width = main.pointsWidth;
        d.height = main.pointsHeight;
    } else {
        d.width = main.pixelWidth;
        d.height = main.pixelHeight;
    }
    d.x = d.y = 0;
    d.w = d.width;
    d.h = d.height;
    d.pointsPerPixel = 1;
    if (main.pointsWidth >= 1 && main.pointsHeight >= 1 && d.width > 0 && d.height > 0) {
        const double f = std::min(static_cast<double>(d.width) / main.pointsWidth,
                                  static_cast<double>(d.height) / main.pointsHeight);
        d.w = std::min(downToEven(static_cast<int64_t>(main.pointsWidth * f + 0.5)), d.width);
        d.h = std::min(downToEven(static_cast<int64_t>(main.pointsHeight * f + 0.5)), d.height);
        d.x = downToEven((d.width - d.w) / 2);
        d.y = downToEven((d.height - d.h) / 2);
        d.pointsPerPixel = 1.0 / f;
    }
    return d;
}

DesktopSize mac_shadow_enum_size(const corvane::platform::MainDisplayInfo& main,
                                 double shareScale) {
    if (shareScale > 0 && main.pixelWidth > main.pointsWidth)
        return {scaledEven(shareScale, main.pixelWidth), scaledEven(shareScale, main.pixelHeight)};
    return {main.pointsWidth, main.pointsHeight};
}
