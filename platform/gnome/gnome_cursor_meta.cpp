#include "gnome_cursor_meta.h"

#include <array>

namespace corvane::platform::gnome {

namespace {

// Where B, G, R and A sit within a pixel of each order.
struct ChannelOffsets {
    int b, g, r, a;
};

ChannelOffsets offsetsOf(GnomeCursorPixelOrder order) {
    switch (order) {
    case GnomeCursorPixelOrder::BGRA:
        return {0, 1, 2, 3};
    case GnomeCursorPixelOrder::RGBA:
        return {2, 1, 0, 3};
    case GnomeCursorPixelOrder::ARGB:
        return {3, 2, 1, 0};
    case GnomeCursorPixelOrder::ABGR:
        return {1, 2, 3, 0};
    }
    return {0, 1, 2, 3};
}

bool describesImage(const GnomeCursorBitmap& b) {
    if (!b.pixels || b.width <= 0 || b.height <= 0 || b.width > kGnomeCursorMaxSide ||
        b.height > kGnomeCursorMaxSide)
        return false;
    const size_t row = static_cast<size_t>(b.width) * 4;
    if (b.stride < 0 || static_cast<size_t>(b.stride) < row)
        return false;
    const size_t needed = static_cast<size_t>(b.stride) * static_cast<size_t>(b.height - 1) + row;
    return b.size >= needed;
}

// Straight alpha times colour, rounded: (c * a + 127) / 255.
uint8_t premultiply(uint8_t c, uint8_t a) {
    return static_cast<uint8_t>((c * a + 127) / 255);
}

void convertRow(const uint8_t* src, uint8_t* dst, int32_t width, ChannelOffsets o,
                bool premultiplied) {
    for (int32_t x = 0; x < width; ++x, src += 4, dst += 4) {
        const uint8_t a = src[o.a];
        dst[3] = a;
        if (premultiplied) {
            dst[0] = src[o.b];
            dst[1] = src[o.g];
            dst[2] = src[o.r];
        } else {
            dst[0] = premultiply(src[o.b], a);
            dst[1] = premultiply(src[o.g], a);
            dst[2] = premultiply(src[o.r], a);
        }
    }
}

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

uint64_t fnv(uint64_t h, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * kFnvPrime;
    return h;
}

} // namespace

std::optional<CursorImage> gnomeCursorImage(const GnomeCursorBitmap& bitmap,
                                            double pixelsPerPoint) {
    if (!describesImage(bitmap) || !(pixelsPerPoint > 0))
        return std::nullopt;
    CursorRepresentation rep;
    rep.pixelWidth = bitmap.width;
    rep.pixelHeight = bitmap.height;
    const size_t row = static_cast<size_t>(bitmap.width) * 4;
    rep.bgra.resize(row * static_cast<size_t>(bitmap.height));
    const ChannelOffsets offsets = offsetsOf(bitmap.order);
    for (int32_t y = 0; y < bitmap.height; ++y)
        convertRow(bitmap.pixels + static_cast<size_t>(y) * static_cast<size_t>(bitmap.stride),
                   rep.bgra.data() + static_cast<size_t>(y) * row, bitmap.width, offsets,
                   bitmap.premultiplied);
    CursorImage image;
    image.pointsWidth = bitmap.width / pixelsPerPoint;
    image.pointsHeight = bitmap.height / pixelsPerPoint;
    image.hotX = bitmap.hotX / pixelsPerPoint;
    image.hotY = bitmap.hotY / pixelsPerPoint;
    image.representations.push_back(std::move(rep));
    return image;
}

uint64_t gnomeCursorShapeHash(const CursorImage& image) {
    uint64_t h = kFnvOffset;
    const std::array<double, 4> geometry{image.pointsWidth, image.pointsHeight, image.hotX,
                                         image.hotY};
    h = fnv(h, geometry.data(), sizeof(geometry));
    for (const auto& rep : image.representations) {
        const std::array<int32_t, 2> size{rep.pixelWidth, rep.pixelHeight};
        h = fnv(h, size.data(), sizeof(size));
        h = fnv(h, rep.bgra.data(), rep.bgra.size());
    }
    return h;
}

int32_t GnomeCursorSerial::note(const CursorImage& image) {
    return noteShape(gnomeCursorShapeHash(image));
}

int32_t GnomeCursorSerial::noteHidden() {
    // The empty image's hash stands for "no cursor"; a real image always
    // hashes its pixel size as well and so differs from it.
    return noteShape(gnomeCursorShapeHash(CursorImage{}));
}

int32_t GnomeCursorSerial::noteShape(uint64_t hash) {
    if (last_ && *last_ == hash)
        return seed_;
    // The first shape keeps seed 0 only if nothing was seen before it; every
    // later change moves on, wrapping within the non-negative range.
    if (last_)
        seed_ = seed_ == INT32_MAX ? 0 : seed_ + 1;
    last_ = hash;
    return seed_;
}

} // namespace corvane::platform::gnome
