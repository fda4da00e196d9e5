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

// One row of one plane (0 alpha, 1 red, 2 green, 3 blue): rows are taken
// one at a time, so that a whole desktop costs no more than two rows.
void planeRow(const BYTE* data, UINT32 format, UINT32 width, UINT32 scanline, UINT32 y,
              size_t plane, BYTE* out) {
    const BYTE* row = data + size_t{y} * scanline;
    const size_t bpp = FreeRDPGetBytesPerPixel(format);
    if (format == PIXEL_FORMAT_BGRX32 || format == PIXEL_FORMAT_BGRA32) {
        static constexpr size_t kOffset[4] = {3, 2, 1, 0}; // of a, r, g, b in B G R A
        if (plane == 0 && format == PIXEL_FORMAT_BGRX32) {
            std::fill(out, out + width, BYTE{0xFF});
            return;
        }
        for (UINT32 x = 0; x < width; ++x)
            out[x] = row[x * 4 + kOffset[plane]];
        return;
    }
    for (UINT32 x = 0; x < width; ++x) {
        BYTE rgba[4] = {0, 0, 0, 0xFF}; // r, g, b, a
        FreeRDPSplitColor(FreeRDPReadColor(row + x * bpp, format), format, &rgba[0], &rgba[1],
                          &rgba[2], &rgba[3], nullptr);
        out[x] = plane == 0 ? rgba[3] : rgba[plane - 1];
    }
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
    std::vector<BYTE> above(width);
    std::vector<BYTE> current(width);
    std::vector<BYTE> line(width);
    for (size_t plane = skipAlpha ? 1 : 0; plane < 4; ++plane) {
        for (UINT32 i = 0; i < height; ++i) {
            planeRow(data, format, width, scanline, topdown ? i : height - 1 - i, plane,
                     current.data());
            if (i == 0) {
                line = current;
            } else {
                for (UINT32 x = 0; x < width; ++x)
                    line[x] = deltaCode(current[x], above[x]);
            }
            writeScanline(line.data(), width, out);
            above.swap(current);
        }
    }
    return out;
}
