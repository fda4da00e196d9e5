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

TEST(PlanBuild, RejectsMissingArgumentsAndClearsThePlan) {
    int32_t left = 0, top = 0;
    uint32_t width = 800, height = 600;
    DesktopPlan plan = dirtyPlan();
    EXPECT_EQ(mac_logic_build_plan_scaled(0, &left, &top, &width, &height, nullptr, nullptr, &plan),
              MAC_PLAN_BAD_ARGS);
    EXPECT_TRUE(isZeroed(plan));
    plan = dirtyPlan();
    EXPECT_EQ(
        mac_logic_build_plan_scaled(1, nullptr, &top, &width, &height, nullptr, nullptr, &plan),
        MAC_PLAN_BAD_ARGS);
    EXPECT_TRUE(isZeroed(plan));
    EXPECT_EQ(
        mac_logic_build_plan_scaled(1, &left, nullptr, &width, &height, nullptr, nullptr, &plan),
        MAC_PLAN_BAD_ARGS);
    EXPECT_EQ(
        mac_logic_build_plan_scaled(1, &left, &top, nullptr, &height, nullptr, nullptr, &plan),
        MAC_PLAN_BAD_ARGS);
    EXPECT_EQ(mac_logic_build_plan_scaled(1, &left, &top, &width, nullptr, nullptr, nullptr, &plan),
              MAC_PLAN_BAD_ARGS);
    EXPECT_EQ(
        mac_logic_build_plan_scaled(1, &left, &top, &width, &height, nullptr, nullptr, nullptr),
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
    EXPECT_EQ(plan.width[0], 8192u);
    EXPECT_EQ(plan.height[0], 200u);
    ASSERT_EQ(buildPlan({{0, 0, 2561, 1441}}, &plan), MAC_PLAN_OK);
    EXPECT_EQ(plan.width[0], 2560u);
    EXPECT_EQ(plan.height[0], 1440u);
    EXPECT_EQ(plan.totalWidth, 2560u);
    EXPECT_EQ(plan.totalHeight, 1440u);
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
    EXPECT_EQ(plan.x[0], 1920);
    EXPECT_EQ(plan.y[0], 300);
    EXPECT_EQ(plan.x[1], 0);
    EXPECT_EQ(plan.y[1], 0);
    EXPECT_EQ(plan.totalWidth, 3840u);
    EXPECT_EQ(plan.totalHeight, 1380u);
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

TEST(PlanHidpi, WishNeedsDesktopScaleInRangeAndAKnownDeviceScale) {
    EXPECT_EQ(mac_logic_hidpi_wish(150, 100), 1);
    EXPECT_EQ(mac_logic_hidpi_wish(500, 0), 1);
    EXPECT_EQ(mac_logic_hidpi_wish(200, 140), 1);
    EXPECT_EQ(mac_logic_hidpi_wish(200, 180), 1);
    EXPECT_EQ(mac_logic_hidpi_wish(149, 100), 0);
    EXPECT_EQ(mac_logic_hidpi_wish(501, 100), 0);
    EXPECT_EQ(mac_logic_hidpi_wish(200, 120), 0);
}

TEST(PlanHidpi, FlagsFollowTheScaleArraysGiven) {
    const std::vector<Monitor> monitors = {{0, 0, 2000, 1200, 200, 120},
                                           {2000, 0, 2000, 1200, 149, 100},
                                           {4000, 0, 2000, 1200, 501, 0},
                                           {6000, 0, 2000, 1200, 200, 0}};
    DesktopPlan plan{};
    ASSERT_EQ(buildPlan(monitors, &plan, Scales::None), MAC_PLAN_OK);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(plan.hidpi[i], 0u) << i;

    ASSERT_EQ(buildPlan(monitors, &plan, Scales::DesktopOnly), MAC_PLAN_OK);
    EXPECT_EQ(plan.hidpi[0], 1u); // device scale 120 is not looked at
    EXPECT_EQ(plan.hidpi[1], 0u);
    EXPECT_EQ(plan.hidpi[2], 0u);
    EXPECT_EQ(plan.hidpi[3], 1u);

    ASSERT_EQ(buildPlan(monitors, &plan, Scales::Both), MAC_PLAN_OK);
    EXPECT_EQ(plan.hidpi[0], 0u); // device scale 120 vetoes
    EXPECT_EQ(plan.hidpi[1], 0u);
    EXPECT_EQ(plan.hidpi[2], 0u);
    EXPECT_EQ(plan.hidpi[3], 1u); // device scale 0 does not
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
