// Sideways moves: rows whose old pixels now stand dx columns to the left or
// right. A few new rows of each long enough run of uncovered rows are
// probed: a short run of pixels near each end of the row is looked for in
// the same old row, and where it occurs exactly once, the distance votes.
// Each row of a candidate band is then checked over the columns that stay in
// view. The cost stays a few passes over the probed rows.
#include <algorithm>
#include <cstdlib>
#include <map>

#include "scroll_finder_rows.h"

namespace shadow_ext_scroll {
namespace {

// Pixels in a probe: enough that text or a picture rarely repeats them
// within a row.
constexpr int kProbe = 8;
// Every this many rows of a run is probed: a band of kShadowExtScrollMinRows
// rows then gets four probed rows.
constexpr int kProbeEvery = 4;
// Distances tried, the most voted first.
constexpr int kMaxShifts = 3;
// Votes a distance needs: one probe may hit by chance.
constexpr int kMinVotes = 2;

uint32_t pixel(const BYTE* row, int x) {
    uint32_t v;
    std::memcpy(&v, row + size_t(x) * 4, 4);
    return v;
}

// Where the `kProbe` pixels at `probe` occur in `row` of `width` pixels:
// their only place, or -1 when they occur nowhere or more than once (a
// repeating pattern says nothing about how far it moved).
int onlyPlace(const BYTE* row, int width, const BYTE* probe) {
    const uint32_t first = pixel(probe, 0);
    int found = -1;
    for (int x = 0; x + kProbe <= width; ++x)
        if (pixel(row, x) == first && std::memcmp(row + size_t(x) * 4, probe, kProbe * 4) == 0) {
            if (found >= 0)
                return -1;
            found = x;
        }
    return found;
}

// The probes of new row `row`: one starting where the row's pixels first
// differ, one ending where they last do, so that plain margins are skipped.
// A move to the right keeps the right end in view, one to the left the left.
void probesOf(const BYTE* row, int width, int (&at)[2]) {
    int first = 0, last = width - 1;
    while (first + 1 < width && pixel(row, first) == pixel(row, first + 1))
        ++first;
    while (last > 0 && pixel(row, last - 1) == pixel(row, last))
        --last;
    at[0] = std::min(first, width - kProbe);
    at[1] = std::max(last + 1 - kProbe, 0);
}

bool worthShift(int dx, int width) {
    return dx != 0 && std::abs(dx) <= width - kShadowExtScrollMinColumns;
}

void voteRow(const Frames& f, int y, std::map<int, int>& votes) {
    const BYTE* now = f.after.row(f.top + y);
    const BYTE* was = f.before.row(f.top + y);
    int at[2];
    probesOf(now, f.width, at);
    for (int i = 0; i < 2; ++i) {
        if (i == 1 && at[1] == at[0])
            break;
        const int from = onlyPlace(was, f.width, now + size_t(at[i]) * 4);
        if (from >= 0 && worthShift(at[i] - from, f.width))
            ++votes[at[i] - from];
    }
}

// Votes of the probed rows of each run of at least kShadowExtScrollMinRows
// rows no move writes yet.
std::map<int, int> votesOf(const Frames& f) {
    std::map<int, int> votes;
    int start = 0;
    for (int y = 0; y <= f.height; ++y) {
        if (y < f.height && !f.covered(y))
            continue;
        if (y - start >= kShadowExtScrollMinRows)
            for (int p = start; p < y; p += kProbeEvery)
                if (!f.flat[size_t(p)])
                    voteRow(f, p, votes);
        start = y + 1;
    }
    return votes;
}

// The distances with enough votes, the most voted first.
std::vector<int> likeliestShifts(const Frames& f) {
    std::vector<std::pair<int, int>> ranked; // votes, distance
    for (auto [dx, n] : votesOf(f))
        if (n >= kMinVotes)
            ranked.push_back({n, dx});
    std::sort(ranked.begin(), ranked.end(), [](auto a, auto b) {
        return a.first != b.first ? a.first > b.first : std::abs(a.second) < std::abs(b.second);
    });
    std::vector<int> shifts;
    for (size_t i = 0; i < ranked.size() && i < size_t(kMaxShifts); ++i)
        shifts.push_back(ranked[i].second);
    return shifts;
}

// Columns of the new rows that old columns fill when moved by `dx`.
Span keptColumns(int dx, int width) {
    return dx > 0 ? Span{dx, width} : Span{0, width + dx};
}

bool sameShifted(const Frames& f, int y, int dx) {
    const Span to = keptColumns(dx, f.width);
    return std::memcmp(f.after.row(f.top + y) + size_t(to.from) * 4,
                       f.before.row(f.top + y) + size_t(to.from - dx) * 4,
                       size_t(to.to - to.from) * 4) == 0;
}

struct Band {
    int from, to; // new rows [from, to)
};

// The runs of uncovered rows that match moved by `dx`, long and detailed
// enough.
std::vector<Band> shiftedBands(const Frames& f, int dx) {
    std::vector<Band> bands;
    int start = -1, detailed = 0;
    for (int y = 0; y <= f.height; ++y) {
        if (y < f.height && !f.covered(y) && sameShifted(f, y, dx)) {
            start = start < 0 ? y : start;
            detailed += f.flat[size_t(y)] ? 0 : 1;
            continue;
        }
        if (start >= 0 && y - start >= kShadowExtScrollMinRows && detailed >= kMinDetailedRows)
            bands.push_back({start, y});
        start = -1;
        detailed = 0;
    }
    return bands;
}

} // namespace

void findSideways(Frames& f, const RECTANGLE_16& rect, std::vector<ShadowExtMove>& moves) {
    if (f.width <= kShadowExtScrollMinColumns || f.width < kProbe)
        return;
    for (const int dx : likeliestShifts(f)) {
        const Span to = keptColumns(dx, f.width);
        for (const Band& b : shiftedBands(f, dx)) {
            const RECTANGLE_16 source{static_cast<UINT16>(rect.left + to.from - dx),
                                      static_cast<UINT16>(rect.top + b.from),
                                      static_cast<UINT16>(rect.left + to.to - dx),
                                      static_cast<UINT16>(rect.top + b.to)};
            if (readsWritten(moves, source))
                continue;
            moves.push_back({source, static_cast<UINT16>(rect.left + to.from), source.top});
            std::fill(f.written.begin() + b.from, f.written.begin() + b.to, to);
        }
    }
}

} // namespace shadow_ext_scroll
