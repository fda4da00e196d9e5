// Sideways moves: rows whose old pixels now stand dx columns to the left or
// right. Every few rows of each run of uncovered rows long enough for a move
// is probed: a short run of its pixels near each end is looked for in the
// same old row, and each place it occurs at gives a distance. A distance
// counts only when the whole probed row matches at it over the columns that
// stay in view; the band is then grown up and down while rows keep matching.
// A chance distance costs one memcmp that stops at the first difference, so
// the search costs about one pass over the probed rows.
#include <algorithm>
#include <cstdlib>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scroll_finder_rows.h"

namespace shadow_ext_scroll {
namespace {

// Pixels in a probe: enough that a row of text or a picture seldom repeats
// them, even text of two colours.
constexpr int kProbe = 16;
// A probe found at more places than this (a pattern) proposes none.
constexpr int kMaxPlaces = 2;
// Every this many rows of a run is probed: each band of
// kShadowExtScrollMinRows rows holds two probed rows.
constexpr int kProbeEvery = 8;

// Pixels of a probe the scan compares first: two where the probe has many
// colours (pictures, smoothed text), eight where it has few (text of two
// colours, where four pixels still match at about one column in six).
constexpr int kVariedKey = 2, kPlainKey = 8;
// Colours among a probe's pixels that make it varied.
constexpr int kVariedColours = 8;

// A probe: `kProbe` pixels of the new row from column `at`, its `keyLength`
// key pixels from `key` on, and the places of the old row where it was found.
struct Probe {
    const BYTE* pixels = nullptr;
    int at = 0, key = 0, keyLength = kPlainKey;
    int places[kMaxPlaces + 1] = {};
    int found = 0;

    void lookAt(const BYTE* row, int x) {
        if (found <= kMaxPlaces && std::memcmp(row + size_t(x) * 4, pixels, kProbe * 4) == 0)
            places[found++] = x;
    }
};

// Calls p.lookAt for the columns of the old `row` (up to `end`) where the
// probe's `Key` key pixels are. With SSE2 four columns are tested at a
// time: this scan is most of the sideways search's time.
template <int Key> void scanKeys(const BYTE* row, int end, Probe& p) {
    int x = 0;
#if defined(__SSE2__)
    __m128i want[Key];
    for (int k = 0; k < Key; ++k)
        want[k] = _mm_set1_epi32(int(pixel(p.pixels, p.key + k)));
    const BYTE* keys = row + size_t(p.key) * 4;
    auto hits = [&](int from) {
        __m128i hit = _mm_set1_epi32(-1);
#pragma GCC unroll 8
        for (int k = 0; k < Key; ++k) {
            const auto* at = reinterpret_cast<const __m128i*>(keys + size_t(from + k) * 4);
            hit = _mm_and_si128(hit, _mm_cmpeq_epi32(_mm_loadu_si128(at), want[k]));
        }
        return hit;
    };
    // Eight columns a round, tested together so that a round without a hit
    // costs one branch.
    for (; x + 8 <= end && p.found <= kMaxPlaces; x += 8) {
        const int low = _mm_movemask_ps(_mm_castsi128_ps(hits(x))),
                  high = _mm_movemask_ps(_mm_castsi128_ps(hits(x + 4)));
        for (int bits = low | high << 4; bits != 0; bits &= bits - 1)
            p.lookAt(row, x + __builtin_ctz(unsigned(bits)));
    }
#endif
    for (; x < end; ++x)
        p.lookAt(row, x);
}

// Where in the old `row` of `width` pixels the probe occurs, up to one place
// more than kMaxPlaces.
void placesOf(const BYTE* row, int width, Probe& p) {
    if (p.keyLength == kVariedKey)
        scanKeys<kVariedKey>(row, width - kProbe + 1, p);
    else
        scanKeys<kPlainKey>(row, width - kProbe + 1, p);
}

// Whether the probe has kVariedColours colours or more.
bool varied(const BYTE* probe) {
    uint32_t seen[kVariedColours];
    int n = 0;
    for (int x = 0; x < kProbe && n < kVariedColours; ++x) {
        const uint32_t v = pixel(probe, x);
        if (std::find(seen, seen + n, v) == seen + n)
            seen[n++] = v;
    }
    return n == kVariedColours;
}

// The key of a probe: as long as its colours need, where its pixels change
// most often (the rarest place in text of few colours).
void chooseKey(Probe& p) {
    p.keyLength = varied(p.pixels) ? kVariedKey : kPlainKey;
    int changes[kProbe] = {};
    for (int x = 1; x < kProbe; ++x)
        changes[x] = changes[x - 1] + (pixel(p.pixels, x) != pixel(p.pixels, x - 1) ? 1 : 0);
    const int n = p.keyLength - 1;
    p.key = 0;
    for (int k = 1; k + p.keyLength <= kProbe; ++k)
        if (changes[k + n] - changes[k] > changes[p.key + n] - changes[p.key])
            p.key = k;
}

// The probes of new row `row`: one starting where its pixels first change,
// one ending where they last do, so that plain margins are skipped. A move
// to the right keeps the right end in view, one to the left the left end.
int probesOf(const BYTE* row, int width, Probe (&probes)[2]) {
    int first = 1, last = width - 2;
    while (first < width - 1 && pixel(row, first) == pixel(row, first - 1))
        ++first;
    while (last > 0 && pixel(row, last) == pixel(row, last + 1))
        --last;
    const int left = std::min(first, width - kProbe), right = std::max(last + 1 - kProbe, 0);
    probes[0].pixels = row + size_t(left) * 4;
    probes[0].at = left;
    chooseKey(probes[0]);
    probes[1].pixels = row + size_t(right) * 4;
    probes[1].at = right;
    chooseKey(probes[1]);
    return right == left ? 1 : 2;
}

// Columns of the new rows that old columns fill when moved by `dx`.
Span keptColumns(int dx, int width) {
    return dx > 0 ? Span{dx, width} : Span{0, width + dx};
}

bool sameShifted(const Frames& f, int y, int dx) {
    const Span to = keptColumns(dx, f.width);
    return !f.covered(y) && std::memcmp(f.after.row(f.top + y) + size_t(to.from) * 4,
                                        f.before.row(f.top + y) + size_t(to.from - dx) * 4,
                                        size_t(to.to - to.from) * 4) == 0;
}

struct Band {
    int from, to; // new rows [from, to)
    int dx;       // columns they moved by
};

// The rows around `y` that match moved by `dx`, when they are enough for a
// move; an empty band otherwise.
Band bandAround(const Frames& f, int y, int dx) {
    if (dx == 0 || std::abs(dx) > f.width - kShadowExtScrollMinColumns || !sameShifted(f, y, dx))
        return {0, 0, 0};
    Band b{y, y + 1, dx};
    while (b.from > 0 && sameShifted(f, b.from - 1, dx))
        --b.from;
    while (b.to < f.height && sameShifted(f, b.to, dx))
        ++b.to;
    const auto detailed = std::count(f.flat.begin() + b.from, f.flat.begin() + b.to, false);
    if (b.to - b.from < kShadowExtScrollMinRows || detailed < kMinDetailedRows)
        return {0, 0, 0};
    return b;
}

// The band of a distance that a probe of new row `y` proposes.
Band probedBand(const Frames& f, int y) {
    const BYTE* now = f.after.row(f.top + y);
    Probe probes[2];
    const int n = probesOf(now, f.width, probes);
    for (int i = 0; i < n; ++i) {
        Probe& p = probes[i];
        placesOf(f.before.row(f.top + y), f.width, p);
        for (int k = 0; k < (p.found <= kMaxPlaces ? p.found : 0); ++k)
            if (const Band b = bandAround(f, y, p.at - p.places[k]); b.to > b.from)
                return b;
    }
    return {0, 0, 0};
}

// Whether a band of kShadowExtScrollMinRows uncovered rows may hold `y`.
bool inLongRun(const Frames& f, int y) {
    int from = y, to = y + 1;
    while (from > 0 && !f.covered(from - 1) && to - from < kShadowExtScrollMinRows)
        --from;
    while (to < f.height && !f.covered(to) && to - from < kShadowExtScrollMinRows)
        ++to;
    return to - from >= kShadowExtScrollMinRows;
}

void addMove(Frames& f, const RECTANGLE_16& rect, const Band& b,
             std::vector<ShadowExtMove>& moves) {
    const int dx = b.dx;
    const Span to = keptColumns(dx, f.width);
    const RECTANGLE_16 source{
        static_cast<UINT16>(rect.left + to.from - dx), static_cast<UINT16>(rect.top + b.from),
        static_cast<UINT16>(rect.left + to.to - dx), static_cast<UINT16>(rect.top + b.to)};
    if (readsWritten(moves, source))
        return;
    moves.push_back({source, static_cast<UINT16>(rect.left + to.from), source.top});
    std::fill(f.written.begin() + b.from, f.written.begin() + b.to, to);
}

} // namespace

void findSideways(Frames& f, const RECTANGLE_16& rect, std::vector<ShadowExtMove>& moves) {
    if (f.width < kShadowExtScrollMinColumns + 1 || f.width < kProbe)
        return;
    for (int y = 0; y < f.height; y += kProbeEvery) {
        if (f.covered(y) || f.flat[size_t(y)] || !inLongRun(f, y))
            continue;
        const Band b = probedBand(f, y);
        if (b.to > b.from)
            addMove(f, rect, b, moves);
    }
}

} // namespace shadow_ext_scroll
