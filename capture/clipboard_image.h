// Pictures on the pasteboard: PNG or TIFF file data on the desktop side, raw
// pixels (B, G, R, A bytes, rows top-down, no padding) on the server side.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane::capture {

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bgra; // width * height * 4 bytes
};

// Width and height 1-8192 each, and at most 16 mebipixels in all.
bool pictureSizeAllowed(uint64_t width, uint64_t height);

// Decodes PNG (or TIFF) data to opaque pixels: whatever is transparent is
// laid over white. Nothing for data that does not decode or a picture
// outside the size limits (checked before any pixel is decoded).
std::optional<Picture> decodePng(const uint8_t* data, size_t size);
std::optional<Picture> decodeTiff(const uint8_t* data, size_t size);

// Encodes pixels with straight (not premultiplied) alpha as PNG; nothing
// when the size is outside the limits or encoding fails.
std::optional<std::vector<uint8_t>> encodePng(const uint8_t* bgra, uint32_t width, uint32_t height);

} // namespace corvane::capture
