#include "input_trace.h"

#include <array>
#include <atomic>

namespace mac_input_trace {

namespace {
constexpr std::array<int, 4> kLimits{40, 40, 60, 20};
std::array<std::atomic<int>, 4> gCounts{};
} // namespace

bool take(Kind kind) {
    std::atomic<int>& count = gCounts[kind];
    int seen = count.load();
    while (seen < kLimits[kind]) {
        if (count.compare_exchange_weak(seen, seen + 1))
            return true;
    }
    return false;
}

void reset() {
    for (auto& count : gCounts)
        count.store(0);
}

} // namespace mac_input_trace
