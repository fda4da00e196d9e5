#include "gnome_damage.h"

#include <algorithm>

namespace corvane::platform::gnome {

namespace {

// The damage shifted by an origin and clipped to the picture; none when a
// rectangle falls off it.
std::optional<std::vector<Rect>> shifted(const std::vector<Rect>& damage, int64_t originX,
                                         int64_t originY, int32_t width, int32_t height) {
    std::vector<Rect> placed;
    for (const Rect& r : damage) {
        // 64 bits: the compositor's numbers may be anything.
        const int64_t x = int64_t(r.x) - originX, y = int64_t(r.y) - originY;
        const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
        const int64_t x1 = std::min<int64_t>(x + r.width, width);
        const int64_t y1 = std::min<int64_t>(y + r.height, height);
        if (x1 <= x0 || y1 <= y0)
            return std::nullopt;
        placed.push_back({int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)});
    }
    return placed;
}

} // namespace

std::optional<std::vector<Rect>> GnomeDamagePlacer::place(const std::vector<Rect>& damage,
                                                          int32_t width, int32_t height) {
    bool whole = false;
    for (const Rect& r : damage) {
        if (r.width != width || r.height != height)
            continue;
        whole = true;
        if (r.x == 0 && r.y == 0) {
            // A repaint without a clip, in the picture's own coordinates;
            // or the monitor now sits at the desktop's origin.
            zeroToo_ = originX_ != 0 || originY_ != 0;
        } else {
            originX_ = r.x;
            originY_ = r.y;
            zeroToo_ = false;
        }
    }
    // The whole picture says nothing of what changed: mutter 48 marks every
    // picture of a real monitor's stream so (it records them outside the
    // paint, without a clip), and a blinking caret must not cost the whole
    // desktop. The pictures are compared instead.
    if (whole)
        return std::nullopt;
    auto placed = shifted(damage, originX_, originY_, width, height);
    if (!zeroToo_)
        return placed;
    auto atZero = shifted(damage, 0, 0, width, height);
    // Rectangles that fall on the picture either way cannot be placed.
    if (placed && atZero)
        return std::nullopt;
    if (atZero) {
        // Only the origin fits: the monitor moved there.
        originX_ = originY_ = 0;
        zeroToo_ = false;
        return atZero;
    }
    return placed;
}

} // namespace corvane::platform::gnome
