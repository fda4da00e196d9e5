#include "scroll_finder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>

namespace {

// Offsets tried one after another (two panes scrolling differently).
constexpr int kMaxOffsets = 3;
// Rows of one colour match any offset: a move must carry this many others.
constexpr int kMinDetailedRows = 4;

struct Rows {
    const BYTE* base;
    UINT32 stride;
    size_t left, bytes;
    const BYTE* row(int y) const { return base + size_t(y) * stride + left; }
};

// Four independent lanes, so that the multiplications overlap instead of
// each waiting for the one before: rows are hashed on every scrolled frame.
uint64_t hashRow(const BYTE* p, size_t bytes) {
    constexpr uint64_t kMul = 0xff51afd7ed558ccdull;
    uint64_t lane[4] = {0x9e3779b97f4a7c15ull ^ bytes, 0xc2b2ae3d27d4eb4full,
                        0x165667b19e3779f9ull, 0x27d4eb2f165667c5ull};
    size_t i = 0;
    for (; i + 32 <= bytes; i += 32)
        for (int k = 0; k < 4; ++k) {
            uint64_t w;
            std::memcpy(&w, p + i + 8 * size_t(k), 8);
            lane[k] = (lane[k] ^ w) * kMul;
            lane[k] ^= lane[k] >> 29;
        }
    for (; i + 8 <= bytes; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        lane[0] = (lane[0] ^ w) * kMul;
        lane[0] ^= lane[0] >> 29;
    }
    for (; i < bytes; ++i)
        lane[1] = (lane[1] ^ p[i]) * 0x100000001b3ull;
    uint64_t h = lane[0];
    for (int k = 1; k < 4; ++k) {
        h = (h ^ lane[k]) * kMul;
        h ^= h >> 29;
    }
    return h ^ (h >> 32);
}

bool uniform(const BYTE* p, size_t bytes) {
    return bytes < 8 || std::memcmp(p, p + 4, bytes - 4) == 0;
}

struct Frames {
    Rows before, after;
    int top, height;
    std::vector<uint64_t> oldHash, newHash;
    std::vector<bool> flat;    // the new row is one colour
    std::vector<bool> covered; // a move writes the new row

    bool same(int newRow, int oldRow) const {
        return newHash[size_t(newRow)] == oldHash[size_t(oldRow)] &&
               std::memcmp(after.row(top + newRow), before.row(top + oldRow), after.bytes) == 0;
    }
};

// The offset (new row minus old row) that most uncovered detailed rows agree
// on, counting only old rows whose content occurs once (repeating rows say
// nothing about where they came from); 0 when none.
int likeliestOffset(const Frames& f) {
    std::unordered_map<uint64_t, int> oldRow;
    oldRow.reserve(size_t(f.height));
    for (int y = 0; y < f.height; ++y) {
        auto [it, fresh] = oldRow.emplace(f.oldHash[size_t(y)], y);
        if (!fresh)
            it->second = -1;
    }
    std::unordered_map<int, int> votes;
    for (int y = 0; y < f.height; ++y) {
        if (f.covered[size_t(y)] || f.flat[size_t(y)])
            continue;
        auto it = oldRow.find(f.newHash[size_t(y)]);
        if (it != oldRow.end() && it->second >= 0 && it->second != y)
            ++votes[y - it->second];
    }
    int best = 0, bestVotes = kMinDetailedRows - 1;
    for (auto [offset, n] : votes)
        if (n > bestVotes || (n == bestVotes && best != 0 && std::abs(offset) < std::abs(best))) {
            best = offset;
            bestVotes = n;
        }
    return best;
}

struct Band {
    int from, to; // new rows [from, to)
};

bool overlaps(int a0, int a1, int b0, int b1) {
    return a0 < b1 && b0 < a1;
}

// Whether a move of the new rows [from, to) by `offset` would read rows an
// earlier move has already written.
bool readsWritten(const ShadowExtScroll& out, const RECTANGLE_16& rect, int from, int to,
                  int offset) {
    for (const ShadowExtMove& m : out.moves) {
        const int written0 = m.toY - rect.top, written1 = written0 + (m.source.bottom - m.source.top);
        if (overlaps(from - offset, to - offset, written0, written1))
            return true;
    }
    return false;
}

// The runs of rows that match at `offset`, long and detailed enough.
std::vector<Band> matchingBands(const Frames& f, int offset) {
    std::vector<Band> bands;
    int start = -1, detailed = 0;
    auto close = [&](int end) {
        if (start >= 0 && end - start >= kShadowExtScrollMinRows && detailed >= kMinDetailedRows)
            bands.push_back({start, end});
        start = -1;
        detailed = 0;
    };
    for (int y = 0; y < f.height; ++y) {
        const int from = y - offset;
        const bool match = !f.covered[size_t(y)] && from >= 0 && from < f.height && f.same(y, from);
        if (!match) {
            close(y);
            continue;
        }
        if (start < 0)
            start = y;
        detailed += f.flat[size_t(y)] ? 0 : 1;
    }
    close(f.height);
    return bands;
}

} // namespace

namespace {

// `kept` as it stands for this rectangle: sized to its rows, and emptied
// when it was kept for other columns.
void fitKept(ShadowExtRowHashes& kept, const RECTANGLE_16& rect) {
    if (kept.left != rect.left || kept.right != rect.right) {
        kept.left = rect.left;
        kept.right = rect.right;
        kept.clear();
    }
    if (kept.known.size() < rect.bottom) {
        kept.known.resize(rect.bottom, false);
        kept.hash.resize(rect.bottom);
    }
}

Frames hashFrames(const BYTE* before, const BYTE* after, UINT32 stride, const RECTANGLE_16& rect,
                  ShadowExtRowHashes* kept) {
    const size_t left = size_t(rect.left) * 4, bytes = size_t(rect.right - rect.left) * 4;
    Frames f{{before, stride, left, bytes}, {after, stride, left, bytes}, rect.top,
             rect.bottom - rect.top, {}, {}, {}, {}};
    const size_t rows = size_t(f.height);
    f.oldHash.resize(rows);
    f.newHash.resize(rows);
    f.flat.resize(rows);
    f.covered.assign(rows, false);
    if (kept)
        fitKept(*kept, rect);
    for (int y = 0; y < f.height; ++y) {
        const size_t row = size_t(f.top + y);
        f.oldHash[size_t(y)] = kept && kept->known[row] ? kept->hash[row]
                                                        : hashRow(f.before.row(f.top + y), bytes);
        f.newHash[size_t(y)] = hashRow(f.after.row(f.top + y), bytes);
        f.flat[size_t(y)] = uniform(f.after.row(f.top + y), bytes);
        if (kept) {
            kept->hash[row] = f.newHash[size_t(y)];
            kept->known[row] = true;
        }
    }
    return f;
}

// The new rows no move writes, as bands of the rectangle's width. Rows that
// did not change stay in: a repaint is asked for to mend what the client
// may show wrongly, which no copy of ours can know.
std::vector<RECTANGLE_16> restOf(const Frames& f, const RECTANGLE_16& rect) {
    std::vector<RECTANGLE_16> rest;
    for (int y = 0; y < f.height; ++y) {
        if (f.covered[size_t(y)])
            continue;
        const auto row = static_cast<UINT16>(rect.top + y);
        if (!rest.empty() && rest.back().bottom == row)
            rest.back().bottom = static_cast<UINT16>(row + 1);
        else
            rest.push_back({rect.left, row, rect.right, static_cast<UINT16>(row + 1)});
    }
    return rest;
}

} // namespace

ShadowExtScroll shadow_ext_find_scroll(const BYTE* before, const BYTE* after, UINT32 stride,
                                       const RECTANGLE_16& rect, ShadowExtRowHashes* kept) {
    ShadowExtScroll out;
    if (rect.right <= rect.left || rect.bottom <= rect.top)
        return out;
    // Too short to hold a move worth sending, or nothing to compare: all of
    // it is encoded, without hashing a row (and what was kept of its rows no
    // longer holds).
    if (!before || !after || rect.bottom - rect.top < 2 * kShadowExtScrollMinRows) {
        if (kept)
            for (size_t y = rect.top; y < std::min<size_t>(rect.bottom, kept->known.size()); ++y)
                kept->known[y] = false;
        out.rest.push_back(rect);
        return out;
    }
    Frames f = hashFrames(before, after, stride, rect, kept);
    for (int round = 0; round < kMaxOffsets; ++round) {
        const int offset = likeliestOffset(f);
        if (offset == 0)
            break;
        bool added = false;
        for (const Band& b : matchingBands(f, offset)) {
            if (readsWritten(out, rect, b.from, b.to, offset))
                continue;
            const auto top = static_cast<UINT16>(rect.top + b.from - offset);
            out.moves.push_back({{rect.left, top, rect.right,
                                  static_cast<UINT16>(top + (b.to - b.from))},
                                 static_cast<UINT16>(rect.top + b.from)});
            std::fill(f.covered.begin() + b.from, f.covered.begin() + b.to, true);
            added = true;
        }
        if (!added)
            break;
    }
    out.rest = restOf(f, rect);
    return out;
}
