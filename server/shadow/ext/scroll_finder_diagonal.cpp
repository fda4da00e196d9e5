// Diagonal moves: a block whose old pixels now stand dx columns and dy rows
// away, dy non-zero, as a window dragged across the desktop leaves it. The
// pixels around the block stay where they were, or change otherwise, so no
// whole row moved and neither the vertical nor the sideways search sees it.
// dx may be 0: a page scrolled beside a strip that changed in the same rows
// (its scroll bar, a clock, another window's repaint) moves in its own
// columns only.
//
// Nothing about a row's place tells where such a block came from, so places
// are picked by content: an anchor is a column where a hash of the kAnchor
// pixels from it is below a bound (and they are not all one colour), so the
// same content gives the same anchors wherever it stands. The anchors of
// sampled old rows are filed by hash; each anchor of a sampled new row found
// once among them votes for the distance between the two. Only the columns
// where a row differs from the same row of the other frame are looked at: a
// block that moved changed the pixels of both its places. The most voted
// distances are then checked from their anchors with exact comparisons: the
// block grows row by row while the new pixels equal the old ones moved, so
// a chance vote costs one short comparison and no move copies a wrong pixel.
#include <algorithm>
#include <functional>
#include <unordered_map>

#include "scroll_finder_rows.h"

namespace shadow_ext_scroll {
namespace {

// The gear hash below shifts in this many bits a column: three make the
// step one address computation (h * 8 + g), the loop's only dependency.
constexpr int kShift = 3;
// Pixels an anchor's hash covers (all those whose bits are still in it):
// enough that text or a picture seldom repeats them within a frame.
constexpr int kAnchor = (64 + kShift - 1) / kShift;
// Anchors a row of the rectangle has, about: a dragged window fills most of
// the rectangle its drag changed, and this many give it votes enough while
// keeping the filed anchors few (their table stays in the cache).
constexpr int kAnchorsPerRow = 16;
// Distances checked, the most voted first (windows dragged apart). One vote
// is enough: a wrong one costs a comparison of kAnchor pixels.
constexpr int kMaxDistances = 3;

// Which rows are looked at: old rows filed, every `every`-th; new rows
// voting, the first `every` of each `every` squared, which hold one row of
// each remainder modulo `every`. So any band of every^2 rows, whatever its
// dy, holds a new row whose old row was filed, at 2 / every of the rows. A
// window fills most of the rectangle its drag changed: `every` squared is
// up to a quarter of the rectangle's rows, which bands are sure to be
// found, and the rows looked at grow only as the square root of its height
// (shorter bands are found when a voting row happens to fall right).
struct Sampling {
    int every;
    explicit Sampling(int height) : every(4) {
        const int sure = std::max<int>(kShadowExtScrollMinRows, height / 4);
        while ((every + 1) * (every + 1) <= sure)
            ++every;
    }
    bool votes(int y) const { return y % (every * every) < every; }
};

// A pixel's bits spread over a word. Only the top bits of the gear hash
// decide, and those of a product depend on all of the pixel's bits.
uint64_t gear(uint32_t v) {
    return uint64_t(v) * 0x9e3779b97f4a7c15ull;
}

// An anchor's key, from the gear hash of its kAnchor pixels (in which the
// oldest pixel keeps only a few bits: two windows differing there alone
// share a key, which costs a vote, never a pixel). Never 0, which marks an
// empty slot.
uint64_t keyOf(uint64_t h) {
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ull;
    return (h ^ h >> 32) | 1;
}

// The columns between the first and the last where the two rows differ.
Span differing(const BYTE* a, const BYTE* b, int width) {
    Span s{0, width};
    while (s.from < s.to && pixel(a, s.from) == pixel(b, s.from))
        ++s.from;
    while (s.to > s.from && pixel(a, s.to - 1) == pixel(b, s.to - 1))
        --s.to;
    return s;
}

// Whether the kAnchor pixels from x are all one colour; the first two
// settle it for most.
bool oneColour(const BYTE* row, int x) {
    const BYTE* p = row + size_t(x) * 4;
    return pixel(p, 0) == pixel(p, 1) && std::memcmp(p, p + 4, (kAnchor - 1) * 4) == 0;
}

// The gear hashes below which a column is an anchor: one in a power of two
// columns, kAnchorsPerRow or so in a row of the rectangle.
uint64_t anchorBound(int width) {
    int bits = 2;
    while (bits < 16 && (width >> (bits + 1)) >= kAnchorsPerRow)
        ++bits;
    return uint64_t(1) << (64 - bits);
}

// Calls at(x, key) for each anchor of `row` within `s`, those whose hash is
// below `below`. Which columns are anchors is decided by a gear hash: each
// column shifts in kShift bits of its pixel, so its top bits depend on the
// last kAnchor pixels only, and it costs one step a column (this loop is
// most of the search's time when nothing moved).
template <typename At> void anchorsOf(const BYTE* row, Span s, uint64_t below, At&& at) {
    if (s.to - s.from < kAnchor)
        return;
    uint64_t h = 0;
    for (int x = s.from; x < s.from + kAnchor - 1; ++x)
        h = (h << kShift) + gear(pixel(row, x));
    for (int start = s.from; start + kAnchor <= s.to; ++start) {
        h = (h << kShift) + gear(pixel(row, start + kAnchor - 1));
        // A window of one colour matches anywhere that colour is.
        if (h < below && !oneColour(row, start)) [[unlikely]]
            at(start, keyOf(h));
    }
}

Span changedColumns(const Frames& f, int y) {
    if (f.newHash[size_t(y)] == f.oldHash[size_t(y)])
        return {};
    return differing(f.after.row(f.top + y), f.before.row(f.top + y), f.width);
}

// Old anchors by key, with their rect-relative (x, y) in one word; -1 where
// a key occurs more than once (a pattern says nothing about where it came
// from). Open addressing over twice as many slots as anchors: a lookup is
// one or two reads where a sorted list cost a dozen mispredicted branches.
class Filed {
  public:
    explicit Filed(const std::vector<std::pair<uint64_t, int64_t>>& anchors) {
        size_t slots = 16;
        while (slots < 2 * anchors.size())
            slots *= 2;
        keys_.assign(slots, 0);
        places_.assign(slots, 0);
        for (const auto& [key, place] : anchors) {
            const size_t i = slotOf(key);
            places_[i] = keys_[i] == 0 ? place : -1;
            keys_[i] = key;
        }
    }
    int64_t place(uint64_t key) const {
        const size_t i = slotOf(key);
        return keys_[i] == key ? places_[i] : -1;
    }

  private:
    // Keys are never 0 (see keyOf), the mark of an empty slot.
    size_t slotOf(uint64_t key) const {
        size_t i = key & (keys_.size() - 1);
        while (keys_[i] != 0 && keys_[i] != key)
            i = (i + 1) & (keys_.size() - 1);
        return i;
    }
    std::vector<uint64_t> keys_;
    std::vector<int64_t> places_;
};

Filed fileOldAnchors(const Frames& f, const Sampling& rows) {
    std::vector<std::pair<uint64_t, int64_t>> anchors;
    for (int y = 0; y < f.height; y += rows.every)
        anchorsOf(f.before.row(f.top + y), changedColumns(f, y), anchorBound(f.width),
                  [&](int x, uint64_t key) {
                      anchors.push_back({key, int64_t(y) << 32 | x});
                  });
    return Filed(anchors);
}

struct Hit {
    int dx, dy, x, y; // distance, and the new anchor's place
};

// Anchors of new rows found once among the old ones, with their distance.
std::vector<Hit> hitsOf(const Frames& f, const Sampling& rows, const Filed& filed) {
    std::vector<Hit> hits;
    for (int y = 0; y < f.height; ++y) {
        if (!rows.votes(y) || f.covered(y) || f.flat[size_t(y)])
            continue;
        anchorsOf(f.after.row(f.top + y), changedColumns(f, y), anchorBound(f.width),
                  [&](int x, uint64_t key) {
                      const int64_t at = filed.place(key);
                      if (at < 0)
                          return;
                      const int ox = int(at & 0xffffffff), oy = int(at >> 32);
                      if (y != oy)
                          hits.push_back({x - ox, y - oy, x, y});
                  });
    }
    return hits;
}

int64_t distanceKey(int dx, int dy) {
    return int64_t(dx) * 131072 + dy;
}

// Up to kMaxDistances distances, the most voted first.
std::vector<int64_t> likeliestDistances(const std::vector<Hit>& hits) {
    std::unordered_map<int64_t, int> count;
    for (const Hit& h : hits)
        ++count[distanceKey(h.dx, h.dy)];
    std::vector<std::pair<int, int64_t>> ranked;
    for (auto [key, n] : count)
        ranked.push_back({n, key});
    std::sort(ranked.begin(), ranked.end(), std::greater<>());
    std::vector<int64_t> best;
    for (size_t i = 0; i < ranked.size() && i < size_t(kMaxDistances); ++i)
        best.push_back(ranked[i].second);
    return best;
}

struct Block {
    Span cols;    // new columns
    int from, to; // new rows
    int dx, dy;
};

// The columns around [x, x + kAnchor) of new row `y`, within `within`,
// whose pixels are those of the old row y - dy moved by dx; empty when the
// anchor's own pixels differ.
Span matchAround(const Frames& f, int y, int x, const Block& b, Span within) {
    const BYTE* now = f.after.row(f.top + y);
    const BYTE* was = f.before.row(f.top + y - b.dy);
    if (f.covered(y) ||
        std::memcmp(now + size_t(x) * 4, was + size_t(x - b.dx) * 4, size_t(kAnchor) * 4) != 0)
        return {};
    Span s{x, x + kAnchor};
    while (s.from > within.from && pixel(now, s.from - 1) == pixel(was, s.from - 1 - b.dx))
        --s.from;
    while (s.to < within.to && pixel(now, s.to) == pixel(was, s.to - b.dx))
        ++s.to;
    return s;
}

// Whether new row `y` matches over all the block's columns so far: one
// memcmp, which settles most rows of a block.
bool sameOver(const Frames& f, int y, const Block& b) {
    return !f.covered(y) &&
           std::memcmp(f.after.row(f.top + y) + size_t(b.cols.from) * 4,
                       f.before.row(f.top + y - b.dy) + size_t(b.cols.from - b.dx) * 4,
                       size_t(b.cols.to - b.cols.from) * 4) == 0;
}

bool wideEnough(Span s) {
    return s.to - s.from >= kShadowExtScrollMinColumns;
}

// The block around the anchor at (x, y) moved by (dx, dy): its rows are
// added while their matching columns stay wide enough, and the block keeps
// the columns all its rows match over.
Block grow(const Frames& f, int x, int y, int dx, int dy) {
    Block b{{std::max(0, dx), std::min(f.width, f.width + dx)}, y, y, dx, dy};
    if (x - dx < 0 || x - dx + kAnchor > f.width || y - dy < 0 || y - dy >= f.height)
        return b;
    const auto take = [&](int row) {
        const Span s = sameOver(f, row, b) ? b.cols : matchAround(f, row, x, b, b.cols);
        if (!wideEnough(s))
            return false;
        b.cols = s;
        return true;
    };
    if (!take(y))
        return b;
    b.to = y + 1;
    while (b.to < f.height && b.to - dy < f.height && take(b.to))
        ++b.to;
    while (b.from > 0 && b.from - 1 - dy >= 0 && take(b.from - 1))
        --b.from;
    return b;
}

int detailedRows(const Frames& f, const Block& b) {
    int n = 0;
    const size_t bytes = size_t(b.cols.to - b.cols.from) * 4;
    for (int y = b.from; y < b.to; ++y) {
        const BYTE* p = f.after.row(f.top + y) + size_t(b.cols.from) * 4;
        n += uniform(p, bytes) ? 0 : 1;
    }
    return n;
}

void addBlock(Frames& f, const RECTANGLE_16& rect, const Block& b,
              std::vector<ShadowExtMove>& moves) {
    const RECTANGLE_16 source{static_cast<UINT16>(rect.left + b.cols.from - b.dx),
                              static_cast<UINT16>(rect.top + b.from - b.dy),
                              static_cast<UINT16>(rect.left + b.cols.to - b.dx),
                              static_cast<UINT16>(rect.top + b.to - b.dy)};
    if (readsWritten(moves, source))
        return;
    moves.push_back({source, static_cast<UINT16>(rect.left + b.cols.from),
                     static_cast<UINT16>(rect.top + b.from)});
    std::fill(f.written.begin() + b.from, f.written.begin() + b.to, b.cols);
}

bool inside(const Block& b, const Hit& h) {
    return h.y >= b.from && h.y < b.to && h.x >= b.cols.from && h.x < b.cols.to;
}

// Each anchor of the distance not yet inside a move grows a block; one
// inside the block grown last, too small for a move, would most likely grow
// the same (a guard on the cost of many anchors in one such block).
void checkDistance(Frames& f, const RECTANGLE_16& rect, const std::vector<Hit>& hits,
                   int64_t distance, std::vector<ShadowExtMove>& moves) {
    Block small{};
    for (const Hit& h : hits) {
        if (distanceKey(h.dx, h.dy) != distance || f.covered(h.y) || inside(small, h))
            continue;
        const Block b = grow(f, h.x, h.y, h.dx, h.dy);
        if (b.to - b.from >= kShadowExtScrollMinRows && wideEnough(b.cols) &&
            detailedRows(f, b) >= kMinDetailedRows)
            addBlock(f, rect, b, moves);
        else
            small = b;
    }
}

// Whether some run of uncovered rows is long enough for a move.
bool roomForABlock(const Frames& f) {
    int run = 0;
    for (int y = 0; y < f.height; ++y) {
        run = f.covered(y) ? 0 : run + 1;
        if (run >= kShadowExtScrollMinRows)
            return true;
    }
    return false;
}

} // namespace

void findDiagonal(Frames& f, const RECTANGLE_16& rect, std::vector<ShadowExtMove>& moves) {
    if (f.width < kShadowExtScrollMinColumns + 1 || f.width <= kAnchor || !roomForABlock(f))
        return;
    const Sampling rows(f.height);
    const std::vector<Hit> hits = hitsOf(f, rows, fileOldAnchors(f, rows));
    for (const int64_t distance : likeliestDistances(hits))
        checkDistance(f, rect, hits, distance, moves);
}

} // namespace shadow_ext_scroll
