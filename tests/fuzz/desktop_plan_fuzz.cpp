// The monitor layout a client announces, turned into a desktop plan and run
// through every sizing stage with settings values from outside as well.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>

#include "server/shadow/Mac/logic/mac_logic.h"

namespace {

// What every plan the stages hand on must be: 1-16 monitors of even sizes
// within 200-8192, placed from the top-left corner of totals that are the
// monitors' far edges, nothing beyond count.
void checkPlan(const DesktopPlan& p) {
    if (p.count < 1 || p.count > MAC_PLAN_MAX_MONITORS)
        std::abort();
    int64_t right = 0, bottom = 0, left = INT64_MAX, top = INT64_MAX;
    for (uint32_t i = 0; i < MAC_PLAN_MAX_MONITORS; i++) {
        if (i >= p.count) {
            if (p.width[i] || p.height[i] || p.x[i] || p.y[i] || p.hidpi[i])
                std::abort();
            continue;
        }
        if (p.width[i] % 2 || p.height[i] % 2 || p.width[i] < MAC_PLAN_MIN_SIZE ||
            p.height[i] < MAC_PLAN_MIN_SIZE || p.width[i] > MAC_PLAN_MAX_SIZE ||
            p.height[i] > MAC_PLAN_MAX_SIZE || p.x[i] < 0 || p.y[i] < 0)
            std::abort();
        right = std::max<int64_t>(right, int64_t{p.x[i]} + p.width[i]);
        bottom = std::max<int64_t>(bottom, int64_t{p.y[i]} + p.height[i]);
        left = std::min<int64_t>(left, p.x[i]);
        top = std::min<int64_t>(top, p.y[i]);
    }
    if (right != p.totalWidth || bottom != p.totalHeight || left != 0 || top != 0 ||
        p.totalWidth > MAC_PLAN_MAX_SIZE || p.totalHeight > MAC_PLAN_MAX_SIZE)
        std::abort();
    if (!mac_logic_plan_same(&p, &p))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint32_t count = in.ConsumeIntegralInRange<uint32_t>(0, 20);
    int32_t lefts[20] = {}, tops[20] = {};
    uint32_t widths[20] = {}, heights[20] = {}, desktopScales[20] = {}, deviceScales[20] = {};
    for (uint32_t i = 0; i < count; i++) {
        lefts[i] = in.ConsumeIntegral<int32_t>();
        tops[i] = in.ConsumeIntegral<int32_t>();
        widths[i] = in.ConsumeIntegralInRange<uint32_t>(0, 9000);
        heights[i] = in.ConsumeIntegralInRange<uint32_t>(0, 9000);
        desktopScales[i] = in.ConsumeIntegralInRange<uint32_t>(0, 600);
        deviceScales[i] = in.ConsumeIntegralInRange<uint32_t>(0, 200);
    }
    const bool withScales = in.ConsumeBool(), withDevice = in.ConsumeBool();

    DesktopPlan plan;
    const int32_t built = mac_logic_build_plan_scaled(
        count, lefts, tops, widths, heights, withScales ? desktopScales : nullptr,
        withScales && withDevice ? deviceScales : nullptr, &plan);
    if (built != MAC_PLAN_OK) {
        const DesktopPlan cleared{};
        if (built >= 0 || std::memcmp(&plan, &cleared, sizeof plan) != 0)
            std::abort(); // a refusal leaves nothing half-built
        return 0;
    }
    checkPlan(plan);
    // Positions keep their distances, measured from the top-left corner.
    const uint32_t n = std::min<uint32_t>(count, MAC_PLAN_MAX_MONITORS);
    const int32_t left = *std::min_element(lefts, lefts + n),
                  top = *std::min_element(tops, tops + n);
    for (uint32_t i = 0; i < n; i++)
        if (int64_t{plan.x[i]} != int64_t{lefts[i]} - left ||
            int64_t{plan.y[i]} != int64_t{tops[i]} - top)
            std::abort();
    mac_logic_plan_align(&plan, in.ConsumeIntegral<int32_t>());
    checkPlan(plan);
    mac_logic_plan_budget(&plan, in.ConsumeFloatingPoint<double>());
    checkPlan(plan);
    mac_logic_plan_width_limit(&plan, in.ConsumeIntegralInRange<int32_t>(0, 9000));
    checkPlan(plan);
    mac_logic_plan_hidpi_minimum(&plan);
    checkPlan(plan);
    const int32_t mode = in.ConsumeIntegralInRange<int32_t>(0, 2);
    const int32_t pointsWidth = in.ConsumeIntegral<int32_t>();
    const int32_t pointsHeight = in.ConsumeIntegral<int32_t>();
    if (mac_logic_plan_choose_virtual(&plan, mode, pointsWidth, pointsHeight) !=
        static_cast<int32_t>(plan.useVirtual))
        std::abort();
    uint32_t w = 0, h = 0;
    if (mac_logic_plan_points(&plan, &w, &h) ? (w == 0 || h == 0) : (w || h))
        std::abort();
    return 0;
}
