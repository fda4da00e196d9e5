#include "gnome_stream_map.h"

#include <algorithm>
#include <limits>

namespace corvane::platform::gnome {

namespace {

// How far the point lies outside the area, squared; 0 inside.
double distanceSquared(const GnomeStreamPlace& s, PointF at) {
    const double dx = std::max({double(s.x) - at.x, 0.0, at.x - double(s.x + s.width)});
    const double dy = std::max({double(s.y) - at.y, 0.0, at.y - double(s.y + s.height)});
    return dx * dx + dy * dy;
}

bool holds(const GnomeStreamPlace& s, PointF at) {
    return at.x >= s.x && at.x < s.x + s.width && at.y >= s.y && at.y < s.y + s.height;
}

} // namespace

std::optional<GnomeStreamPoint> gnomeStreamAt(const std::vector<GnomeStreamPlace>& streams,
                                              PointF at) {
    const GnomeStreamPlace* best = nullptr;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const GnomeStreamPlace& s : streams) {
        if (s.width <= 0 || s.height <= 0)
            continue;
        if (holds(s, at))
            return GnomeStreamPoint{s.streamPath, at.x - s.x, at.y - s.y};
        const double d = distanceSquared(s, at);
        if (d < bestDistance) {
            bestDistance = d;
            best = &s;
        }
    }
    if (!best)
        return std::nullopt;
    const double x = std::clamp(at.x - best->x, 0.0, double(best->width - 1));
    const double y = std::clamp(at.y - best->y, 0.0, double(best->height - 1));
    return GnomeStreamPoint{best->streamPath, x, y};
}

} // namespace corvane::platform::gnome
