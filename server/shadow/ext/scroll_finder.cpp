#include "scroll_finder.h"

#include "scroll_finder_rows.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

using namespace shadow_ext_scroll;

namespace {

// Offsets tried one after another (two panes scrolling differently).
constexpr int kMaxOffsets = 3;

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
        if (f.covered(y) || f.flat[size_t(y)])
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
        const bool match = !f.covered(y) && from >= 0 && from < f.height && f.same(y, from);
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

namespace shadow_ext_scroll {

bool readsWritten(const std::vector<ShadowExtMove>& moves, const RECTANGLE_16& source) {
    for (const ShadowExtMove& m : moves) {
        const int right = m.toX + (m.source.right - m.source.left),
                  bottom = m.toY + (m.source.bottom - m.source.top);
        if (m.toX < source.right && source.left < right && m.toY < source.bottom &&
            source.top < bottom)
            return true;
    }
    return false;
}

} // namespace shadow_ext_scroll

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
    Frames f{{before, stride, left, bytes},
             {after, stride, left, bytes},
             rect.top,
             rect.bottom - rect.top,
             rect.right - rect.left,
             {},
             {},
             {},
             {}};
    const size_t rows = size_t(f.height);
    f.oldHash.resize(rows);
    f.newHash.resize(rows);
    f.flat.resize(rows);
    f.written.assign(rows, Span{});
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

// The columns of new row `y` that no move writes: none, one or two spans.
int unwritten(const Frames& f, int y, Span (&pieces)[2]) {
    const Span w = f.written[size_t(y)];
    if (w.to <= w.from) {
        pieces[0] = {0, f.width};
        return 1;
    }
    int n = 0;
    if (w.from > 0)
        pieces[n++] = {0, w.from};
    if (w.to < f.width)
        pieces[n++] = {w.to, f.width};
    return n;
}

// What no move writes, as rectangles: rows whose unwritten columns are the
// same as the row above's extend its rectangles, so that a band of rows
// moved alike leaves one strip. Rows that did not change stay in: a repaint
// is asked for to mend what the client may show wrongly, which no copy of
// ours can know.
std::vector<RECTANGLE_16> restOf(const Frames& f, const RECTANGLE_16& rect) {
    std::vector<RECTANGLE_16> rest;
    Span above[2];
    int aboveN = -1;
    size_t aboveAt = 0;
    for (int y = 0; y < f.height; ++y) {
        Span pieces[2];
        const int n = unwritten(f, y, pieces);
        const auto row = static_cast<UINT16>(rect.top + y);
        if (n == aboveN && std::equal(pieces, pieces + n, above)) {
            for (size_t i = aboveAt; i < rest.size(); ++i)
                rest[i].bottom = static_cast<UINT16>(row + 1);
            continue;
        }
        aboveN = n;
        aboveAt = rest.size();
        for (int i = 0; i < n; ++i) {
            above[i] = pieces[i];
            rest.push_back({static_cast<UINT16>(rect.left + pieces[i].from), row,
                            static_cast<UINT16>(rect.left + pieces[i].to),
                            static_cast<UINT16>(row + 1)});
        }
    }
    return rest;
}

// Adds the vertical moves of up to kMaxOffsets offsets, the likeliest first.
void findVertical(Frames& f, const RECTANGLE_16& rect, std::vector<ShadowExtMove>& moves) {
    for (int round = 0; round < kMaxOffsets; ++round) {
        const int offset = likeliestOffset(f);
        if (offset == 0)
            return;
        bool added = false;
        for (const Band& b : matchingBands(f, offset)) {
            const auto top = static_cast<UINT16>(rect.top + b.from - offset);
            const RECTANGLE_16 source{rect.left, top, rect.right,
                                      static_cast<UINT16>(top + (b.to - b.from))};
            if (readsWritten(moves, source))
                continue;
            moves.push_back({source, rect.left, static_cast<UINT16>(rect.top + b.from)});
            std::fill(f.written.begin() + b.from, f.written.begin() + b.to, Span{0, f.width});
            added = true;
        }
        if (!added)
            return;
    }
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
    findVertical(f, rect, out.moves);
    findSideways(f, rect, out.moves);
    findDiagonal(f, rect, out.moves);
    out.rest = restOf(f, rect);
    return out;
}
