// What the scroll finder's vertical, sideways and diagonal searches share: the two
// frames over one rectangle, their row hashes, and which new pixels the
// moves found so far write.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "scroll_finder.h"

namespace shadow_ext_scroll {

// Rows moving together need this many that are not one colour (which match
// any offset) before a copy is trusted to be worth it.
constexpr int kMinDetailedRows = 4;

struct Rows {
    const BYTE* base;
    UINT32 stride;
    size_t left, bytes;
    const BYTE* row(int y) const { return base + size_t(y) * stride + left; }
};

// Columns [from, to) of the rectangle, counted from its left edge.
struct Span {
    int from = 0, to = 0;
    bool operator==(const Span&) const = default;
};

struct Frames {
    Rows before, after;
    int top, height, width;
    std::vector<uint64_t> oldHash, newHash;
    std::vector<bool> flat;    // the new row is one colour
    std::vector<Span> written; // what the moves write of each new row

    bool covered(int y) const { return written[size_t(y)].to > written[size_t(y)].from; }
    bool same(int newRow, int oldRow) const {
        return newHash[size_t(newRow)] == oldHash[size_t(oldRow)] &&
               std::memcmp(after.row(top + newRow), before.row(top + oldRow), after.bytes) == 0;
    }
};

// The 4-byte pixel at column x of a row.
inline uint32_t pixel(const BYTE* row, int x) {
    uint32_t v;
    std::memcpy(&v, row + size_t(x) * 4, 4);
    return v;
}

// Whether the pixels of `bytes` from p are all one colour.
inline bool uniform(const BYTE* p, size_t bytes) {
    return bytes < 8 || std::memcmp(p, p + 4, bytes - 4) == 0;
}

// Whether `source` holds a pixel that one of `moves` (applied before it)
// writes.
bool readsWritten(const std::vector<ShadowExtMove>& moves, const RECTANGLE_16& source);

// Adds the sideways moves of rows no move writes yet.
void findSideways(Frames& f, const RECTANGLE_16& rect, std::vector<ShadowExtMove>& moves);

// Adds the moves of blocks that went both sideways and up or down (a
// dragged window) in rows no move writes yet.
void findDiagonal(Frames& f, const RECTANGLE_16& rect, std::vector<ShadowExtMove>& moves);

} // namespace shadow_ext_scroll
