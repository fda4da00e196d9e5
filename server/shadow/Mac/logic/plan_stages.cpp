// Sizing stages run on a built plan: alignment, pixel budget, width limit,
// HiDPI minimum and the choice between virtual displays and the real screen.
#include "mac_logic.h"

#include <cmath>
#include <cstring>

namespace {

uint32_t monitorCount(const DesktopPlan* plan) {
    return plan->count < MAC_PLAN_MAX_MONITORS ? plan->count : MAC_PLAN_MAX_MONITORS;
}

// Totals as the far edges of the monitors, measured from 0.
void recomputeTotals(DesktopPlan* plan) {
    int64_t right = 0;
    int64_t bottom = 0;
    for (uint32_t i = 0; i < monitorCount(plan); i++) {
        const int64_t r = int64_t{plan->x[i]} + plan->width[i];
        const int64_t b = int64_t{plan->y[i]} + plan->height[i];
        right = r > right ? r : right;
        bottom = b > bottom ? b : bottom;
    }
    plan->totalWidth = static_cast<uint32_t>(right);
    plan->totalHeight = static_cast<uint32_t>(bottom);
}

// trunc(s * v) with the lowest bit cleared (rounds down to even).
int64_t scaledEven(double s, int64_t v) {
    return static_cast<int64_t>(std::trunc(s * static_cast<double>(v))) & ~int64_t{1};
}

uint32_t scaledSize(double s, uint32_t v) {
    const int64_t scaled = scaledEven(s, v);
    return scaled < MAC_PLAN_MIN_SIZE ? MAC_PLAN_MIN_SIZE : static_cast<uint32_t>(scaled);
}

// Scales sizes and positions by s (< 1) and recomputes the totals.
void scalePlan(DesktopPlan* plan, double s) {
    for (uint32_t i = 0; i < monitorCount(plan); i++) {
        plan->width[i] = scaledSize(s, plan->width[i]);
        plan->height[i] = scaledSize(s, plan->height[i]);
        plan->x[i] = static_cast<int32_t>(scaledEven(s, plan->x[i]));
        plan->y[i] = static_cast<int32_t>(scaledEven(s, plan->y[i]));
    }
    recomputeTotals(plan);
}

uint32_t alignDown(uint32_t size, uint32_t alignment) {
    const uint32_t aligned = size - size % alignment;
    return aligned >= MAC_PLAN_MIN_SIZE ? aligned : size;
}

// True when the shapes w1:h1 and w2:h2 differ by more than 3 % either way,
// compared in whole numbers so that the 3 % edge is exact.
bool shapesDiffer(int64_t w1, int64_t h1, int64_t w2, int64_t h2) {
    const int64_t a = w1 * h2;
    const int64_t b = w2 * h1;
    return a * 100 > b * 103 || b * 100 > a * 103;
}

} // namespace

extern "C" int32_t mac_logic_plan_align(DesktopPlan* plan, int32_t alignment) noexcept {
    if (!plan || (alignment != 4 && alignment != 8 && alignment != 16))
        return 0;
    const auto a = static_cast<uint32_t>(alignment);
    int32_t changed = 0;
    for (uint32_t i = 0; i < monitorCount(plan); i++) {
        const uint32_t w = alignDown(plan->width[i], a);
        const uint32_t h = alignDown(plan->height[i], a);
        changed |= w != plan->width[i] || h != plan->height[i];
        plan->width[i] = w;
        plan->height[i] = h;
    }
    if (changed)
        recomputeTotals(plan);
    return changed;
}

extern "C" int32_t mac_logic_plan_budget(DesktopPlan* plan, double budgetPerMonitor) noexcept {
    if (!plan || !plan->count)
        return 0;
    double budget = budgetPerMonitor;
    if (!std::isfinite(budget) || budget < MAC_PLAN_MIN_BUDGET)
        budget = MAC_PLAN_DEFAULT_BUDGET;
    const double allowed = budget * monitorCount(plan);
    const double area = static_cast<double>(plan->totalWidth) * plan->totalHeight;
    if (!(allowed < area))
        return 0;
    scalePlan(plan, std::sqrt(allowed / area));
    return 1;
}

extern "C" int32_t mac_logic_plan_width_limit(DesktopPlan* plan, int32_t maxWidth) noexcept {
    if (!plan || !plan->count)
        return 0;
    if (maxWidth < MAC_PLAN_MIN_WIDTH_LIMIT || maxWidth > MAC_PLAN_MAX_SIZE)
        return 0;
    const auto limit = static_cast<uint32_t>(maxWidth);
    if (plan->totalWidth <= limit)
        return 0;
    scalePlan(plan, static_cast<double>(limit) / plan->totalWidth);
    return 1;
}

extern "C" int32_t mac_logic_plan_hidpi_minimum(DesktopPlan* plan) noexcept {
    if (!plan)
        return 0;
    int32_t setBack = 0;
    for (uint32_t i = 0; i < monitorCount(plan); i++) {
        if (plan->hidpi[i] && (plan->width[i] < MAC_PLAN_HIDPI_MIN_WIDTH ||
                               plan->height[i] < MAC_PLAN_HIDPI_MIN_HEIGHT)) {
            plan->hidpi[i] = 0;
            setBack++;
        }
    }
    return setBack;
}

extern "C" int32_t mac_logic_virtual_mode(const char* value) noexcept {
    if (!value)
        return MAC_VIRTUAL_AUTO;
    if (std::strcmp(value, "never") == 0)
        return MAC_VIRTUAL_NEVER;
    if (std::strcmp(value, "always") == 0)
        return MAC_VIRTUAL_ALWAYS;
    return MAC_VIRTUAL_AUTO;
}

extern "C" int32_t mac_logic_plan_choose_virtual(DesktopPlan* plan, int32_t mode,
                                                 int32_t mainPointsWidth,
                                                 int32_t mainPointsHeight) noexcept {
    if (!plan)
        return 0;
    uint32_t useVirtual = 0;
    if (mode == MAC_VIRTUAL_ALWAYS) {
        useVirtual = 1;
    } else if (mode == MAC_VIRTUAL_NEVER) {
        useVirtual = 0;
    } else if (plan->count >= 2) {
        useVirtual = 1;
    } else if (plan->totalWidth > 0 && plan->totalHeight > 0 && mainPointsWidth > 0 &&
               mainPointsHeight > 0) {
        useVirtual =
            shapesDiffer(plan->totalWidth, plan->totalHeight, mainPointsWidth, mainPointsHeight)
                ? 1
                : 0;
    }
    plan->useVirtual = useVirtual;
    return static_cast<int32_t>(useVirtual);
}

extern "C" int32_t mac_logic_plan_points(const DesktopPlan* plan, uint32_t* pointsWidth,
                                         uint32_t* pointsHeight) noexcept {
    uint32_t hidpi = 0;
    const uint32_t n = plan ? monitorCount(plan) : 0;
    for (uint32_t i = 0; i < n; i++)
        hidpi += plan->hidpi[i] ? 1 : 0;
    const bool all = hidpi > 0 && hidpi == n;
    if (pointsWidth)
        *pointsWidth = hidpi ? (all ? plan->totalWidth / 2 : plan->totalWidth) : 0;
    if (pointsHeight)
        *pointsHeight = hidpi ? (all ? plan->totalHeight / 2 : plan->totalHeight) : 0;
    return hidpi ? 1 : 0;
}
