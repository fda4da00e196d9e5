#include "gnome_frame_diff.h"

#include <algorithm>
#include <cstring>

namespace corvane::platform::gnome {

namespace {

bool tileDiffers(const uint8_t* before, intptr_t beforeStride, const uint8_t* after,
                 intptr_t afterStride, int32_t x, int32_t y, int32_t w, int32_t h) {
    const size_t bytes = size_t(w) * 4;
    const uint8_t* a = before + y * beforeStride + intptr_t(x) * 4;
    const uint8_t* b = after + y * afterStride + intptr_t(x) * 4;
    for (int32_t row = 0; row < h; ++row, a += beforeStride, b += afterStride)
        if (std::memcmp(a, b, bytes) != 0)
            return true;
    return false;
}

} // namespace

std::vector<Rect> gnomeChangedRects(const uint8_t* before, intptr_t beforeStride,
                                    const uint8_t* after, intptr_t afterStride, int32_t width,
                                    int32_t height, int32_t tile) {
    std::vector<Rect> done;
    if (width <= 0 || height <= 0 || tile <= 0)
        return done;
    // Rectangles still open to growing downwards: those that ended on the
    // tile row above.
    std::vector<Rect> open;
    for (int32_t y = 0; y < height; y += tile) {
        const int32_t h = std::min(tile, height - y);
        std::vector<Rect> runs;
        for (int32_t x = 0; x < width; x += tile) {
            const int32_t w = std::min(tile, width - x);
            if (!tileDiffers(before, beforeStride, after, afterStride, x, y, w, h))
                continue;
            if (!runs.empty() && runs.back().x + runs.back().width == x)
                runs.back().width += w;
            else
                runs.push_back({x, y, w, h});
        }
        std::vector<Rect> next;
        for (Rect run : runs) {
            auto above = std::find_if(open.begin(), open.end(), [&](const Rect& r) {
                return r.x == run.x && r.width == run.width;
            });
            if (above != open.end()) {
                run = {above->x, above->y, above->width, above->height + h};
                open.erase(above);
            }
            next.push_back(run);
        }
        done.insert(done.end(), open.begin(), open.end());
        open = std::move(next);
    }
    done.insert(done.end(), open.begin(), open.end());
    return done;
}

} // namespace corvane::platform::gnome
