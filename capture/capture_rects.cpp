#include "capture_rects.h"

#include <algorithm>
#include <cmath>

namespace corvane::capture {

namespace {

// Truncation toward zero that stays defined for values outside int32.
int32_t truncated(double value) {
    if (!(value == value))
        return 0;
    const double t = std::trunc(value);
    if (t >= 2147483647.0)
        return INT32_MAX;
    if (t <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(t);
}

void appendClipped(std::vector<int32_t>& out, int64_t x, int64_t y, int64_t w, int64_t h,
                   int32_t frameWidth, int32_t frameHeight) {
    const int64_t left = std::max<int64_t>(x, 0);
    const int64_t top = std::max<int64_t>(y, 0);
    const int64_t right = std::min<int64_t>(x + w, frameWidth);
    const int64_t bottom = std::min<int64_t>(y + h, frameHeight);
    if (right <= left || bottom <= top)
        return;
    out.insert(out.end(), {static_cast<int32_t>(left), static_cast<int32_t>(top),
                           static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top)});
}

} // namespace

std::vector<int32_t> roundDirtyRects(const std::vector<platform::DirtyRect>& dirty,
                                     int32_t frameWidth, int32_t frameHeight) {
    std::vector<int32_t> values;
    if (dirty.empty() || dirty.size() > kMaxRects)
        return values;
    values.reserve(dirty.size() * 4);
    for (const auto& r : dirty) {
        const int64_t w = static_cast<int64_t>(truncated(r.width)) + 1;
        const int64_t h = static_cast<int64_t>(truncated(r.height)) + 1;
        appendClipped(values, truncated(r.x), truncated(r.y), w, h, frameWidth, frameHeight);
    }
    return values;
}

} // namespace corvane::capture
