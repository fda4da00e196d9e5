// Building a desktop plan from the monitors a client announced.
#include "mac_logic.h"

#include <cstring>

namespace {

constexpr int64_t kMaxSize = MAC_PLAN_MAX_SIZE;

// Even size within 200-8192, or 0 when the raw value is out of range.
uint32_t evenSize(uint32_t raw) {
    const uint32_t even = raw & ~1u;
    if (raw < MAC_PLAN_MIN_SIZE || even > MAC_PLAN_MAX_SIZE)
        return 0;
    return even;
}

uint32_t hidpiFlag(size_t i, const uint32_t* desktopScales, const uint32_t* deviceScales) {
    if (!desktopScales)
        return 0;
    const uint32_t desktop = desktopScales[i];
    if (!deviceScales)
        return desktop >= 150 && desktop <= 500 ? 1 : 0;
    return static_cast<uint32_t>(mac_logic_hidpi_wish(desktop, deviceScales[i]));
}

struct Bounds {
    int64_t left = INT64_MAX;
    int64_t top = INT64_MAX;
    int64_t right = INT64_MIN;
    int64_t bottom = INT64_MIN;
};

int32_t fillPlan(uint32_t n, const int32_t* lefts, const int32_t* tops, const uint32_t* widths,
                 const uint32_t* heights, const uint32_t* desktopScales,
                 const uint32_t* deviceScales, DesktopPlan* plan) {
    Bounds b;
    plan->count = n;
    for (uint32_t i = 0; i < n; i++) {
        const uint32_t w = evenSize(widths[i]);
        const uint32_t h = evenSize(heights[i]);
        if (!w || !h)
            return MAC_PLAN_BAD_SIZE;
        plan->width[i] = w;
        plan->height[i] = h;
        plan->hidpi[i] = hidpiFlag(i, desktopScales, deviceScales);
        // 64-bit: a left near INT32_MAX plus a width must not wrap.
        b.left = b.left < lefts[i] ? b.left : lefts[i];
        b.top = b.top < tops[i] ? b.top : tops[i];
        b.right = b.right > lefts[i] + int64_t{w} ? b.right : lefts[i] + int64_t{w};
        b.bottom = b.bottom > tops[i] + int64_t{h} ? b.bottom : tops[i] + int64_t{h};
    }
    if (b.right - b.left > kMaxSize || b.bottom - b.top > kMaxSize)
        return MAC_PLAN_TOO_LARGE;
    plan->totalWidth = static_cast<uint32_t>(b.right - b.left);
    plan->totalHeight = static_cast<uint32_t>(b.bottom - b.top);
    for (uint32_t i = 0; i < n; i++) {
        // The box is at most 8192 wide, so the offsets fit in 32 bits.
        plan->x[i] = static_cast<int32_t>(lefts[i] - b.left);
        plan->y[i] = static_cast<int32_t>(tops[i] - b.top);
    }
    return MAC_PLAN_OK;
}

} // namespace

extern "C" int32_t mac_logic_hidpi_wish(uint32_t desktopScale, uint32_t deviceScale) noexcept {
    if (desktopScale < 150 || desktopScale > 500)
        return 0;
    return deviceScale == 0 || deviceScale == 100 || deviceScale == 140 || deviceScale == 180;
}

extern "C" int32_t mac_logic_build_plan_scaled(uint32_t count, const int32_t* lefts,
                                               const int32_t* tops, const uint32_t* widths,
                                               const uint32_t* heights,
                                               const uint32_t* desktopScales,
                                               const uint32_t* deviceScales,
                                               DesktopPlan* plan) noexcept {
    if (plan)
        std::memset(plan, 0, sizeof(*plan));
    if (!count || !lefts || !tops || !widths || !heights || !plan)
        return MAC_PLAN_BAD_ARGS;
    const uint32_t n = count < MAC_PLAN_MAX_MONITORS ? count : MAC_PLAN_MAX_MONITORS;
    const int32_t result =
        fillPlan(n, lefts, tops, widths, heights, desktopScales, deviceScales, plan);
    if (result != MAC_PLAN_OK)
        std::memset(plan, 0, sizeof(*plan));
    return result;
}

extern "C" int32_t mac_logic_plan_same(const DesktopPlan* a, const DesktopPlan* b) noexcept {
    if (!a || !b)
        return 0;
    if (a->count != b->count || a->totalWidth != b->totalWidth || a->totalHeight != b->totalHeight)
        return 0;
    const uint32_t n = a->count < MAC_PLAN_MAX_MONITORS ? a->count : MAC_PLAN_MAX_MONITORS;
    for (uint32_t i = 0; i < n; i++) {
        if (a->x[i] != b->x[i] || a->y[i] != b->y[i] || a->width[i] != b->width[i] ||
            a->height[i] != b->height[i] || (a->hidpi[i] != 0) != (b->hidpi[i] != 0))
            return 0;
    }
    return 1;
}
