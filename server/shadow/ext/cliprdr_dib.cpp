// Device-independent bitmaps (CF_DIB, CF_DIBV5) to and from raw pixels.
#include "cliprdr_formats.h"

namespace shadow_ext::cliprdr {

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr size_t kInfoHeader = 40;

uint32_t u32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A channel's mask must cover eight neighbouring bits; its shift is kept.
bool eightBitMask(uint32_t mask, uint32_t& shift) {
    if (mask == 0)
        return false;
    shift = 0;
    while (((mask >> shift) & 1u) == 0)
        ++shift;
    return (mask >> shift) == 0xFFu;
}

} // namespace

std::optional<corvane::capture::Picture> parseDib(const uint8_t* data, size_t size) {
    if (!data || size < kInfoHeader)
        return std::nullopt;
    const uint32_t headerSize = u32(data);
    const auto width = static_cast<int32_t>(u32(data + 4));
    const auto height = static_cast<int32_t>(u32(data + 8));
    const uint32_t planes = data[12] | (data[13] << 8);
    const uint32_t bits = data[14] | (data[15] << 8);
    const uint32_t compression = u32(data + 16);
    const uint32_t coloursUsed = u32(data + 32);
    if (headerSize < kInfoHeader || headerSize > size || planes != 1 || width <= 0 || height == 0 ||
        height == INT32_MIN || (bits != 24 && bits != 32) ||
        (compression != kBiRgb && compression != kBiBitfields) ||
        (compression == kBiBitfields && bits != 32) || coloursUsed > 256)
        return std::nullopt;
    const uint64_t w = static_cast<uint64_t>(width);
    const uint64_t h = height < 0 ? uint64_t(-int64_t(height)) : uint64_t(height);
    if (!corvane::capture::pictureSizeAllowed(w, h))
        return std::nullopt;

    uint64_t offset = headerSize;
    uint32_t masks[4] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0};
    bool alpha = false;
    if (compression == kBiBitfields) {
        // A plain info header is followed by three masks; later headers
        // carry them (and the alpha mask) inside.
        const uint8_t* m = data + kInfoHeader;
        if (headerSize == kInfoHeader) {
            if (size - offset < 12)
                return std::nullopt;
            offset += 12;
        } else if (headerSize < kInfoHeader + 12) {
            return std::nullopt;
        }
        for (int i = 0; i < 3; ++i)
            masks[i] = u32(m + 4 * i);
        if (headerSize >= kInfoHeader + 16)
            masks[3] = u32(m + 12);
        alpha = masks[3] != 0;
    }
    uint32_t shifts[4] = {0, 0, 0, 0};
    for (int i = 0; i < (alpha ? 4 : 3); ++i)
        if (!eightBitMask(masks[i], shifts[i]))
            return std::nullopt;
    offset += uint64_t(coloursUsed) * 4;
    const uint64_t stride = (w * bits + 31) / 32 * 4;
    if (offset > size || stride * h > size - offset)
        return std::nullopt;

    corvane::capture::Picture p;
    p.width = static_cast<uint32_t>(w);
    p.height = static_cast<uint32_t>(h);
    p.bgra.resize(w * h * 4);
    const bool topDown = height < 0;
    for (uint64_t y = 0; y < h; ++y) {
        const uint8_t* row = data + offset + stride * (topDown ? y : h - 1 - y);
        uint8_t* out = p.bgra.data() + y * w * 4;
        for (uint64_t x = 0; x < w; ++x, out += 4) {
            if (bits == 24) {
                out[0] = row[x * 3];
                out[1] = row[x * 3 + 1];
                out[2] = row[x * 3 + 2];
                out[3] = 255;
                continue;
            }
            const uint32_t v = u32(row + x * 4);
            out[0] = static_cast<uint8_t>((v & masks[2]) >> shifts[2]);
            out[1] = static_cast<uint8_t>((v & masks[1]) >> shifts[1]);
            out[2] = static_cast<uint8_t>((v & masks[0]) >> shifts[0]);
            out[3] = alpha ? static_cast<uint8_t>((v & masks[3]) >> shifts[3]) : 255;
        }
    }
    return p;
}

std::vector<uint8_t> encodeDib(const corvane::capture::Picture& picture) {
    const size_t rowBytes = size_t(picture.width) * 4;
    std::vector<uint8_t> out;
    out.reserve(kInfoHeader + rowBytes * picture.height);
    put32(out, kInfoHeader);
    put32(out, picture.width);
    put32(out, picture.height); // positive: rows bottom-up
    out.push_back(1);           // planes
    out.push_back(0);
    out.push_back(32); // bits per pixel
    out.push_back(0);
    put32(out, kBiRgb);
    put32(out, static_cast<uint32_t>(rowBytes * picture.height));
    put32(out, 2835); // 72 dpi in pixels per metre
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (uint32_t y = picture.height; y-- > 0;) {
        const uint8_t* row = picture.bgra.data() + rowBytes * y;
        out.insert(out.end(), row, row + rowBytes);
    }
    return out;
}

} // namespace shadow_ext::cliprdr
