// The cursor the user sees: its identity and its picture at a given scale.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "cursor_scale.h"
#include "mac_capture.h"
#include "platform/platform.h"

using corvane::platform::CursorImage;
using corvane::platform::CursorRepresentation;

namespace {

constexpr int32_t kSmallestCap = 8;
constexpr double kSmallestScale = 0.25;

int32_t roundedAtLeastOne(double v) {
    const long r = std::lround(v); // halves away from zero
    return r < 1 ? 1 : static_cast<int32_t>(r);
}

int32_t clampedHotSpot(double points, double scale, int32_t size) {
    const long v = std::lround(points * scale);
    return static_cast<int32_t>(std::clamp<long>(v, 0, size - 1));
}

// The narrowest representation at least `width` pixels wide, else the
// widest; null when there is none.
const CursorRepresentation* chooseRepresentation(const CursorImage& image, int32_t width) {
    std::vector<const CursorRepresentation*> sorted;
    for (const auto& rep : image.representations)
        sorted.push_back(&rep);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto* a, const auto* b) { return a->pixelWidth < b->pixelWidth; });
    for (const auto* rep : sorted)
        if (rep->pixelWidth >= width)
            return rep;
    return sorted.empty() ? nullptr : sorted.back();
}

bool usable(const CursorRepresentation* rep) {
    return rep && rep->pixelWidth > 0 && rep->pixelHeight > 0 &&
           rep->bgra.size() == static_cast<size_t>(rep->pixelWidth) * rep->pixelHeight * 4;
}

} // namespace

extern "C" int32_t mac_cursor_seed(void) {
    return corvane::platform::current().cursor().seed();
}

extern "C" int32_t mac_cursor_image(double scale, int32_t max_size, uint8_t** pixels,
                                    int32_t* width, int32_t* height, int32_t* hot_x,
                                    int32_t* hot_y) {
    if (!pixels || !width || !height || !hot_x || !hot_y)
        return 0;
    CursorImage image;
    if (!corvane::platform::current().cursor().current(image))
        return 0;
    const double w = image.pointsWidth, h = image.pointsHeight;
    if (!(w > 0) || !(h > 0))
        return 0;

    const double cap = max_size <= kSmallestCap ? kSmallestCap : max_size;
    double s = std::isnan(scale) || scale < kSmallestScale ? kSmallestScale : scale;
    s = std::min({s, cap / w, cap / h});
    const int32_t outWidth = roundedAtLeastOne(w * s);
    const int32_t outHeight = roundedAtLeastOne(h * s);

    const CursorRepresentation* rep = chooseRepresentation(image, outWidth);
    if (!usable(rep))
        return 0;
    auto* buffer = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(outWidth) * outHeight, 4));
    if (!buffer)
        return 0;
    mac_cursor::scaleBgra(rep->bgra.data(), rep->pixelWidth, rep->pixelHeight, buffer, outWidth,
                          outHeight);

    *pixels = buffer;
    *width = outWidth;
    *height = outHeight;
    *hot_x = clampedHotSpot(image.hotX, s, outWidth);
    *hot_y = clampedHotSpot(image.hotY, s, outHeight);
    return 1;
}
