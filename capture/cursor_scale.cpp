#include "cursor_scale.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace mac_cursor {

namespace {

struct Tap {
    int32_t index;
    double weight;
};

// For every destination position the source positions it draws from, with
// weights summing to 1.
std::vector<std::vector<Tap>> tapsFor(int32_t srcSize, int32_t dstSize) {
    std::vector<std::vector<Tap>> taps(static_cast<size_t>(dstSize));
    const double ratio = static_cast<double>(srcSize) / dstSize;
    for (int32_t d = 0; d < dstSize; ++d) {
        auto& out = taps[static_cast<size_t>(d)];
        if (ratio > 1.0) {
            const double start = d * ratio, end = (d + 1) * ratio;
            for (auto s = static_cast<int32_t>(std::floor(start)); s < end && s < srcSize; ++s) {
                const double cover = std::min<double>(s + 1, end) - std::max<double>(s, start);
                if (cover > 0)
                    out.push_back({s, cover / ratio});
            }
        } else {
            const double centre = std::clamp((d + 0.5) * ratio - 0.5, 0.0, srcSize - 1.0);
            const auto left = static_cast<int32_t>(std::floor(centre));
            const double frac = centre - left;
            out.push_back({left, 1.0 - frac});
            if (frac > 0 && left + 1 < srcSize)
                out.push_back({left + 1, frac});
        }
    }
    return taps;
}

} // namespace

void scaleBgra(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, uint8_t* dst,
               int32_t dstWidth, int32_t dstHeight) {
    if (!src || !dst || srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0)
        return;
    const auto columns = tapsFor(srcWidth, dstWidth);
    const auto rows = tapsFor(srcHeight, dstHeight);
    // Horizontal pass into floating point, then the vertical pass.
    std::vector<double> wide(static_cast<size_t>(srcHeight) * dstWidth * 4, 0.0);
    for (int32_t y = 0; y < srcHeight; ++y)
        for (int32_t x = 0; x < dstWidth; ++x)
            for (const Tap& t : columns[static_cast<size_t>(x)])
                for (int c = 0; c < 4; ++c)
                    wide[(static_cast<size_t>(y) * dstWidth + x) * 4 + c] +=
                        t.weight * src[(static_cast<size_t>(y) * srcWidth + t.index) * 4 + c];
    for (int32_t y = 0; y < dstHeight; ++y)
        for (int32_t x = 0; x < dstWidth; ++x)
            for (int c = 0; c < 4; ++c) {
                double sum = 0;
                for (const Tap& t : rows[static_cast<size_t>(y)])
                    sum += t.weight * wide[(static_cast<size_t>(t.index) * dstWidth + x) * 4 + c];
                dst[(static_cast<size_t>(y) * dstWidth + x) * 4 + c] =
                    static_cast<uint8_t>(std::clamp(std::lround(sum), 0L, 255L));
            }
}

} // namespace mac_cursor
