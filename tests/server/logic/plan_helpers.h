// Building plans from short monitor lists in tests.
#pragma once

#include "mac_logic.h"

#include <cstdint>
#include <string>
#include <vector>

struct Monitor {
    int32_t left;
    int32_t top;
    uint32_t width;
    uint32_t height;
    uint32_t desktopScale = 100;
    uint32_t deviceScale = 100;
};

enum class Scales { None, DesktopOnly, Both };

inline int32_t buildPlan(const std::vector<Monitor>& monitors, DesktopPlan* plan,
                         Scales scales = Scales::Both) {
    std::vector<int32_t> lefts, tops;
    std::vector<uint32_t> widths, heights, desktop, device;
    for (const Monitor& m : monitors) {
        lefts.push_back(m.left);
        tops.push_back(m.top);
        widths.push_back(m.width);
        heights.push_back(m.height);
        desktop.push_back(m.desktopScale);
        device.push_back(m.deviceScale);
    }
    return mac_logic_build_plan_scaled(static_cast<uint32_t>(monitors.size()), lefts.data(),
                                       tops.data(), widths.data(), heights.data(),
                                       scales == Scales::None ? nullptr : desktop.data(),
                                       scales == Scales::Both ? device.data() : nullptr, plan);
}

// A plan in one line: "x,y WxH" per monitor ("*" when HiDPI), then the total.
inline std::string describe(const DesktopPlan& plan) {
    std::string text;
    for (uint32_t i = 0; i < plan.count; ++i)
        text += std::to_string(plan.x[i]) + "," + std::to_string(plan.y[i]) + " " +
                std::to_string(plan.width[i]) + "x" + std::to_string(plan.height[i]) +
                (plan.hidpi[i] ? "*" : "") + " ";
    return text + "= " + std::to_string(plan.totalWidth) + "x" + std::to_string(plan.totalHeight);
}
