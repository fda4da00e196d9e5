#include "plan_helpers.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

bool isZeroed(const DesktopPlan& plan) {
    static const DesktopPlan zero{};
    return std::memcmp(&plan, &zero, sizeof(plan)) == 0;
}

DesktopPlan dirtyPlan() {
    DesktopPlan plan;
    std::memset(&plan, 0x5a, sizeof(plan));
    return plan;
}

} // namespace

// No monitors or any array missing: refused, and the plan is cleared.
TEST(PlanBuild, RejectsMissingArgumentsAndClearsThePlan) {
    int32_t l = 0, t = 0;
    uint32_t w = 800, h = 600;
    const struct {
        uint32_t count;
        int32_t *left, *top;
        uint32_t *width, *height;
    } cases[] = {{0, &l, &t, &w, &h},
                 {1, nullptr, &t, &w, &h},
                 {1, &l, nullptr, &w, &h},
                 {1, &l, &t, nullptr, &h},
                 {1, &l, &t, &w, nullptr}};
    for (const auto& c : cases) {
        DesktopPlan plan = dirtyPlan();
        EXPECT_EQ(mac_logic_build_plan_scaled(c.count, c.left, c.top, c.width, c.height, nullptr,
                                              nullptr, &plan),
                  MAC_PLAN_BAD_ARGS);
        EXPECT_TRUE(isZeroed(plan));
    }
    EXPECT_EQ(mac_logic_build_plan_scaled(1, &l, &t, &w, &h, nullptr, nullptr, nullptr),
              MAC_PLAN_BAD_ARGS);
}

TEST(PlanBuild, SizesAreEvenAndWithinRange) {
    DesktopPlan plan = dirtyPlan();
    EXPECT_EQ(buildPlan({{0, 0, 199, 600}}, &plan), MAC_PLAN_BAD_SIZE);
    EXPECT_TRUE(isZeroed(plan));
    EXPECT_EQ(buildPlan({{0, 0, 800, 8194}}, &plan), MAC_PLAN_BAD_SIZE);
    // A bad second monitor must not leave the first one behind.
    plan = dirtyPlan();
    EXPECT_EQ(buildPlan({{0, 0, 800, 600}, {800, 0, 800, 199}}, &plan), MAC_PLAN_BAD_SIZE);
    EXPECT_TRUE(isZeroed(plan));

    ASSERT_EQ(buildPlan({{0, 0, 8193, 201}}, &plan), MAC_PLAN_OK);
    EXPECT_EQ(describe(plan), "0,0 8192x200 = 8192x200");
    ASSERT_EQ(buildPlan({{0, 0, 2561, 1441}}, &plan), MAC_PLAN_OK);
    EXPECT_EQ(describe(plan), "0,0 2560x1440 = 2560x1440");
    EXPECT_EQ(plan.useVirtual, 0u);
}

TEST(PlanBuild, BoundingBoxAbove8192IsRefused) {
    DesktopPlan plan = dirtyPlan();
    EXPECT_EQ(buildPlan({{0, 0, 5000, 1000}, {4000, 0, 5000, 1000}}, &plan), MAC_PLAN_TOO_LARGE);
    EXPECT_TRUE(isZeroed(plan));
    EXPECT_EQ(buildPlan({{0, 0, 1000, 4096}, {0, 4097, 1000, 4096}}, &plan), MAC_PLAN_TOO_LARGE);
    ASSERT_EQ(buildPlan({{0, 0, 4096, 1000}, {4096, 0, 4096, 1000}}, &plan), MAC_PLAN_OK);
    EXPECT_EQ(plan.totalWidth, 8192u);
}

TEST(PlanBuild, PositionsAreRelativeToTheTopLeftMonitor) {
    DesktopPlan plan{};
    ASSERT_EQ(buildPlan({{0, 0, 1920, 1080}, {-1920, -300, 1920, 1080}}, &plan), MAC_PLAN_OK);
    EXPECT_EQ(describe(plan), "1920,300 1920x1080 0,0 1920x1080 = 3840x1380");
}

TEST(PlanBuild, OnlyTheFirstSixteenMonitorsAreUsed) {
    std::vector<Monitor> monitors;
    for (int i = 0; i < 17; i++)
        monitors.push_back({i * 400, 0, 400, 300});
    monitors[16].width = 100; // would be refused if it were read
    DesktopPlan plan{};
    ASSERT_EQ(buildPlan(monitors, &plan), MAC_PLAN_OK);
    EXPECT_EQ(plan.count, 16u);
    EXPECT_EQ(plan.totalWidth, 6400u);
    EXPECT_EQ(plan.x[15], 6000);
}

// Desktop scale, device scale, wish.
TEST(PlanHidpi, WishNeedsDesktopScaleInRangeAndAKnownDeviceScale) {
    const uint32_t cases[][3] = {{150, 100, 1}, {500, 0, 1},   {200, 140, 1}, {200, 180, 1},
                                 {149, 100, 0}, {501, 100, 0}, {200, 120, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(mac_logic_hidpi_wish(c[0], c[1]), int32_t(c[2])) << c[0] << "/" << c[1];
}

TEST(PlanHidpi, FlagsFollowTheScaleArraysGiven) {
    const std::vector<Monitor> monitors = {{0, 0, 2000, 1200, 200, 120},
                                           {2000, 0, 2000, 1200, 149, 100},
                                           {4000, 0, 2000, 1200, 501, 0},
                                           {6000, 0, 2000, 1200, 200, 0}};
    DesktopPlan plan{};
    auto flags = [&](Scales scales) {
        EXPECT_EQ(buildPlan(monitors, &plan, scales), MAC_PLAN_OK);
        return std::vector<uint32_t>(plan.hidpi, plan.hidpi + 4);
    };
    EXPECT_EQ(flags(Scales::None), std::vector<uint32_t>({0, 0, 0, 0}));
    // Without device scales 120 is not looked at; with them it vetoes, 0 does not.
    EXPECT_EQ(flags(Scales::DesktopOnly), std::vector<uint32_t>({1, 0, 0, 1}));
    EXPECT_EQ(flags(Scales::Both), std::vector<uint32_t>({0, 0, 0, 1}));
}

TEST(PlanSame, ComparesEveryMonitorAndTheHidpiFlagAsTruth) {
    DesktopPlan a{}, b{};
    ASSERT_EQ(buildPlan({{0, 0, 1920, 1080, 200, 100}, {1920, 0, 1920, 1080}}, &a), MAC_PLAN_OK);
    b = a;
    EXPECT_EQ(mac_logic_plan_same(&a, &b), 1);
    b.hidpi[0] = 7; // still "true"
    EXPECT_EQ(mac_logic_plan_same(&a, &b), 1);
    b = a;
    b.hidpi[1] = 1;
    EXPECT_EQ(mac_logic_plan_same(&a, &b), 0);
    b = a;
    b.y[1] = 2;
    EXPECT_EQ(mac_logic_plan_same(&a, &b), 0);
    b = a;
    b.height[1] = 1078;
    EXPECT_EQ(mac_logic_plan_same(&a, &b), 0);
    b = a;
    b.count = 1;
    EXPECT_EQ(mac_logic_plan_same(&a, &b), 0);
    EXPECT_EQ(mac_logic_plan_same(&a, nullptr), 0);
}
