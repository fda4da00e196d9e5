#include "gnome_damage.h"

#include <algorithm>

namespace corvane::platform::gnome {

std::optional<std::vector<Rect>> GnomeDamagePlacer::place(const std::vector<Rect>& damage,
                                                          int32_t width, int32_t height) {
    for (const Rect& r : damage)
        if (r.width == width && r.height == height) {
            originX_ = r.x;
            originY_ = r.y;
        }
    std::vector<Rect> placed;
    for (const Rect& r : damage) {
        // 64 bits: the compositor's numbers may be anything.
        const int64_t x = int64_t(r.x) - originX_, y = int64_t(r.y) - originY_;
        const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
        const int64_t x1 = std::min<int64_t>(x + r.width, width);
        const int64_t y1 = std::min<int64_t>(y + r.height, height);
        // Off the picture: the origin moved without a full repaint to say
        // so, and these rectangles cannot be trusted.
        if (x1 <= x0 || y1 <= y0)
            return std::nullopt;
        placed.push_back({int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)});
    }
    return placed;
}

} // namespace corvane::platform::gnome
