#include "planar_rle.h"

#include <algorithm>

#include <freerdp/codec/color.h>
#include <freerdp/codec/planar.h>

namespace {

constexpr size_t kMaxRaw = 15;      // raw bytes in one segment
constexpr size_t kMinRun = 4;       // shorter repeats stay raw bytes
constexpr size_t kMaxShortRun = 15; // a run that shares a segment with raw bytes

// A segment's control byte: raw bytes in the high nibble, run in the low.
BYTE control(size_t raw, size_t run) {
    return static_cast<BYTE>((raw << 4) | run);
}

// Raw bytes, then `run` more of the last of them. Runs of 16 to 47 go in
// segments of their own (a low nibble of 1 or 2 says so); a remainder of one
// or two is written as raw bytes.
void writeSegments(const BYTE* raw, size_t count, size_t run, std::vector<BYTE>& out) {
    while (count > kMaxRaw) {
        out.push_back(control(kMaxRaw, 0));
        out.insert(out.end(), raw, raw + kMaxRaw);
        raw += kMaxRaw;
        count -= kMaxRaw;
    }
    const size_t shortRun = run >= 3 ? std::min(run, kMaxShortRun) : 0;
    if (count > 0 || shortRun > 0) {
        out.push_back(control(count, shortRun));
        out.insert(out.end(), raw, raw + count);
    }
    run -= shortRun;
    while (run >= 16) {
        const size_t part = std::min<size_t>(run, 47);
        out.push_back(part >= 32 ? control(part - 32, 2) : control(part - 16, 1));
        run -= part;
    }
    if (run >= 3) {
        out.push_back(control(0, run));
    } else if (run > 0) {
        const BYTE last = count > 0 ? raw[count - 1] : 0;
        out.push_back(control(run, 0));
        out.insert(out.end(), run, last);
    }
}

// One scanline of plane values: runs of kMinRun or more become runs of the
// raw byte before them, everything else raw bytes.
void writeScanline(const BYTE* values, size_t n, std::vector<BYTE>& out) {
    size_t rawStart = 0;
    size_t i = 0;
    while (i < n) {
        size_t length = 1;
        while (i + length < n && values[i + length] == values[i])
            ++length;
        if (length >= kMinRun) {
            // The first of the repeat ends the raw bytes; the rest repeat it.
            writeSegments(values + rawStart, i + 1 - rawStart, length - 1, out);
            rawStart = i + length;
        }
        i += length;
    }
    writeSegments(values + rawStart, n - rawStart, 0, out);
}

// The difference to the pixel above, as the codec stores it: the magnitude
// shifted up one, the lowest bit set for a negative difference.
BYTE deltaCode(BYTE current, BYTE above) {
    const int delta = static_cast<signed char>(static_cast<BYTE>(current - above));
    return static_cast<BYTE>(delta >= 0 ? delta * 2 : -delta * 2 - 1);
}

// The four planes (alpha, red, green, blue) of the picture, row by row.
std::vector<BYTE> splitPlanes(const BYTE* data, UINT32 format, UINT32 width, UINT32 height,
                              UINT32 scanline) {
    const size_t plane = size_t{width} * height;
    std::vector<BYTE> planes(plane * 4);
    const size_t bpp = FreeRDPGetBytesPerPixel(format);
    const bool bgr32 = format == PIXEL_FORMAT_BGRX32 || format == PIXEL_FORMAT_BGRA32;
    for (UINT32 y = 0; y < height; ++y) {
        const BYTE* row = data + size_t{y} * scanline;
        for (UINT32 x = 0; x < width; ++x) {
            const size_t at = size_t{y} * width + x;
            const BYTE* pixel = row + x * bpp;
            BYTE r = 0, g = 0, b = 0, a = 0xFF;
            if (bgr32) {
                b = pixel[0];
                g = pixel[1];
                r = pixel[2];
                a = format == PIXEL_FORMAT_BGRA32 ? pixel[3] : 0xFF;
            } else {
                FreeRDPSplitColor(FreeRDPReadColor(pixel, format), format, &r, &g, &b, &a,
                                  nullptr);
            }
            planes[at] = a;
            planes[plane + at] = r;
            planes[2 * plane + at] = g;
            planes[3 * plane + at] = b;
        }
    }
    return planes;
}

} // namespace

std::vector<BYTE> shadow_ext_planar_rle_encode(const BYTE* data, UINT32 format, UINT32 width,
                                               UINT32 height, UINT32 scanline, bool skipAlpha,
                                               bool topdown) {
    std::vector<BYTE> out;
    out.push_back(static_cast<BYTE>(PLANAR_FORMAT_HEADER_RLE |
                                    (skipAlpha ? PLANAR_FORMAT_HEADER_NA : 0)));
    if (width == 0 || height == 0)
        return out;
    const std::vector<BYTE> planes = splitPlanes(data, format, width, height, scanline);
    const size_t planeSize = size_t{width} * height;
    std::vector<BYTE> line(width);
    for (size_t p = skipAlpha ? 1 : 0; p < 4; ++p) {
        const BYTE* plane = planes.data() + p * planeSize;
        const BYTE* above = nullptr;
        for (UINT32 i = 0; i < height; ++i) {
            const BYTE* row = plane + size_t{topdown ? i : height - 1 - i} * width;
            if (!above) {
                std::copy(row, row + width, line.begin());
            } else {
                for (UINT32 x = 0; x < width; ++x)
                    line[x] = deltaCode(row[x], above[x]);
            }
            writeScanline(line.data(), width, out);
            above = row;
        }
    }
    return out;
}
