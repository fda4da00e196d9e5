#include "plan_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

DesktopPlan built(const std::vector<Monitor>& monitors) {
    DesktopPlan plan{};
    EXPECT_EQ(buildPlan(monitors, &plan), MAC_PLAN_OK);
    return plan;
}

} // namespace

TEST(PlanAlign, RoundsSizesDownButNeverBelow200) {
    DesktopPlan plan = built({{0, 0, 1366, 768}});
    EXPECT_EQ(mac_logic_plan_align(&plan, 8), 1);
    EXPECT_EQ(describe(plan), "0,0 1360x768 = 1360x768");

    plan = built({{0, 0, 1000, 206}});
    EXPECT_EQ(mac_logic_plan_align(&plan, 8), 1);
    EXPECT_EQ(describe(plan), "0,0 1000x200 = 1000x200") << "exactly 200 is allowed";

    plan = built({{0, 0, 1000, 206}});
    EXPECT_EQ(mac_logic_plan_align(&plan, 16), 1);
    EXPECT_EQ(describe(plan), "0,0 992x206 = 992x206") << "the width changes, 206 stays";
}

TEST(PlanAlign, OtherValuesMeanTwoAndChangeNothing) {
    const DesktopPlan original = built({{0, 0, 1366, 770}});
    for (int32_t alignment : {2, 0, 3, 6, 32, -8}) {
        DesktopPlan plan = original;
        EXPECT_EQ(mac_logic_plan_align(&plan, alignment), 0) << alignment;
        EXPECT_EQ(mac_logic_plan_same(&plan, &original), 1) << alignment;
    }
    DesktopPlan aligned = built({{0, 0, 1280, 720}});
    EXPECT_EQ(mac_logic_plan_align(&aligned, 16), 0);
    EXPECT_EQ(mac_logic_plan_align(nullptr, 16), 0);
}

TEST(PlanAlign, PositionsKeepTheirValuesAndTotalsFollow) {
    DesktopPlan plan = built({{0, 0, 1366, 768}, {1366, 10, 1366, 770}});
    EXPECT_EQ(mac_logic_plan_align(&plan, 4), 1);
    EXPECT_EQ(describe(plan), "0,0 1364x768 1366,10 1364x768 = 2730x778");
}

TEST(PlanBudget, LargeMonitorsAreScaledToTheDefaultBudgetKeepingTheirArrangement) {
    DesktopPlan plan = built({{0, 0, 2561, 1441}});
    EXPECT_EQ(mac_logic_plan_budget(&plan, 0.0), 1);
    EXPECT_EQ(describe(plan), "0,0 1920x1080 = 1920x1080");
    plan = built({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
    EXPECT_EQ(mac_logic_plan_budget(&plan, MAC_PLAN_DEFAULT_BUDGET), 0);
    EXPECT_EQ(describe(plan), "0,0 1920x1080 1920,0 1920x1080 = 3840x1080")
        << "exactly the budget is not scaled";
    plan = built({{0, 0, 2560, 1440}, {2560, 0, 2560, 1440}});
    EXPECT_EQ(mac_logic_plan_budget(&plan, MAC_PLAN_DEFAULT_BUDGET), 1);
    EXPECT_EQ(describe(plan), "0,0 1920x1080 1920,0 1920x1080 = 3840x1080");
}

TEST(PlanBudget, HidpiLaptopScreenStaysHidpiAfterScaling) {
    DesktopPlan plan{};
    ASSERT_EQ(buildPlan({{0, 0, 3024, 1964, 200, 100}}, &plan), MAC_PLAN_OK);
    EXPECT_EQ(mac_logic_plan_budget(&plan, MAC_PLAN_DEFAULT_BUDGET), 1);
    EXPECT_EQ(mac_logic_plan_hidpi_minimum(&plan), 0);
    EXPECT_EQ(describe(plan), "0,0 1786x1160* = 1786x1160");
}

TEST(PlanBudget, BudgetBelowTheMinimumOrNotANumberMeansTheDefault) {
    for (double budget : {400000.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity()}) {
        DesktopPlan plan = built({{0, 0, 2560, 1440}});
        EXPECT_EQ(mac_logic_plan_budget(&plan, budget), 1) << budget;
        EXPECT_EQ(plan.width[0], 1920u) << budget;
    }
    DesktopPlan plan = built({{0, 0, 2560, 1440}});
    EXPECT_EQ(mac_logic_plan_budget(&plan, 4000000.0), 0);
    plan = built({{0, 0, 2560, 1440}});
    EXPECT_EQ(mac_logic_plan_budget(&plan, 921600.0), 1);
    EXPECT_EQ(describe(plan), "0,0 1280x720 = 1280x720");
}

TEST(PlanBudget, ScalingKeeps200AsTheSmallestSizeAndPositionsMayOverlap) {
    DesktopPlan plan = built({{0, 0, 8000, 1000}, {0, 1000, 200, 7000}});
    EXPECT_EQ(mac_logic_plan_budget(&plan, 500000.0), 1);
    const double s = std::sqrt(1000000.0 / (8000.0 * 8000.0));
    EXPECT_EQ(plan.height[0], 200u);
    EXPECT_EQ(plan.width[1], 200u);
    EXPECT_EQ(plan.width[0], static_cast<uint32_t>(std::trunc(s * 8000)) & ~1u);
    EXPECT_EQ(plan.y[1], static_cast<int32_t>(std::trunc(s * 1000)) & ~1);
    EXPECT_LT(plan.y[1], static_cast<int32_t>(plan.height[0])); // overlaps the first
    EXPECT_EQ(plan.totalHeight, static_cast<uint32_t>(plan.y[1]) + plan.height[1]);
    EXPECT_EQ(plan.totalWidth, plan.width[0]);
}

TEST(PlanWidthLimit, TwoMonitorsAreScaledToTheLimit) {
    DesktopPlan plan = built({{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}});
    ASSERT_EQ(mac_logic_plan_budget(&plan, MAC_PLAN_DEFAULT_BUDGET), 0);
    EXPECT_EQ(mac_logic_plan_width_limit(&plan, 3000), 1);
    EXPECT_EQ(describe(plan), "0,0 1500x842 1500,0 1500x842 = 3000x842");
}

TEST(PlanWidthLimit, OnlyLimitsOf640To8192Count) {
    for (int32_t limit : {600, 9000, 0, -1}) {
        DesktopPlan plan = built({{0, 0, 1920, 1080}});
        EXPECT_EQ(mac_logic_plan_width_limit(&plan, limit), 0) << limit;
        EXPECT_EQ(plan.width[0], 1920u) << limit;
    }
    DesktopPlan plan = built({{0, 0, 1920, 1080}});
    EXPECT_EQ(mac_logic_plan_width_limit(&plan, 640), 1);
    EXPECT_EQ(plan.totalWidth, 640u);
    plan = built({{0, 0, 1920, 1080}});
    EXPECT_EQ(mac_logic_plan_width_limit(&plan, 1920), 0);
    DesktopPlan empty{};
    EXPECT_EQ(mac_logic_plan_width_limit(&empty, 640), 0);
}

TEST(PlanHidpiMinimum, SmallHidpiMonitorsAreSetBack) {
    DesktopPlan plan{};
    ASSERT_EQ(buildPlan({{0, 0, 1440, 900, 200, 100}}, &plan), MAC_PLAN_OK);
    ASSERT_EQ(plan.hidpi[0], 1u);
    EXPECT_EQ(mac_logic_plan_hidpi_minimum(&plan), 1);
    EXPECT_EQ(plan.hidpi[0], 0u);

    ASSERT_EQ(buildPlan({{0, 0, 1600, 1050, 200, 100},
                         {1600, 0, 1600, 1048, 200, 100},
                         {3200, 0, 1598, 1200, 200, 100},
                         {4798, 0, 800, 600, 100, 100}},
                        &plan),
              MAC_PLAN_OK);
    EXPECT_EQ(mac_logic_plan_hidpi_minimum(&plan), 2);
    EXPECT_EQ(describe(plan),
              "0,0 1600x1050* 1600,0 1600x1048 3200,0 1598x1200 4798,0 800x600 = 5598x1200");
}

TEST(PlanVirtual, ModeComesFromTheExactWords) {
    EXPECT_EQ(mac_logic_virtual_mode(nullptr), MAC_VIRTUAL_AUTO);
    EXPECT_EQ(mac_logic_virtual_mode("never"), MAC_VIRTUAL_NEVER);
    EXPECT_EQ(mac_logic_virtual_mode("always"), MAC_VIRTUAL_ALWAYS);
    EXPECT_EQ(mac_logic_virtual_mode("Always"), MAC_VIRTUAL_AUTO);
    EXPECT_EQ(mac_logic_virtual_mode("never "), MAC_VIRTUAL_AUTO);
    EXPECT_EQ(mac_logic_virtual_mode(""), MAC_VIRTUAL_AUTO);
}

TEST(PlanVirtual, OneMonitorOfTheMacsShapeSharesTheRealScreen) {
    DesktopPlan plan = built({{0, 0, 1440, 900}});
    EXPECT_EQ(mac_logic_plan_choose_virtual(&plan, MAC_VIRTUAL_AUTO, 1512, 945), 0);
    EXPECT_EQ(plan.useVirtual, 0u);
    // 16:9 on a 16:10 Mac: 1.111 apart.
    plan = built({{0, 0, 1920, 1080}});
    EXPECT_EQ(mac_logic_plan_choose_virtual(&plan, MAC_VIRTUAL_AUTO, 1440, 900), 1);
    EXPECT_EQ(plan.useVirtual, 1u);
    // Within 3 % either way.
    plan = built({{0, 0, 1030, 1000}});
    EXPECT_EQ(mac_logic_plan_choose_virtual(&plan, MAC_VIRTUAL_AUTO, 1000, 1000), 0);
    plan = built({{0, 0, 1000, 1030}});
    EXPECT_EQ(mac_logic_plan_choose_virtual(&plan, MAC_VIRTUAL_AUTO, 1000, 1000), 0);
    plan = built({{0, 0, 1000, 1032}});
    EXPECT_EQ(mac_logic_plan_choose_virtual(&plan, MAC_VIRTUAL_AUTO, 1000, 1000), 1);
}

TEST(PlanVirtual, ModesAndUnknownMainSize) {
    DesktopPlan one = built({{0, 0, 1440, 900}});
    EXPECT_EQ(mac_logic_plan_choose_virtual(&one, MAC_VIRTUAL_ALWAYS, 1440, 900), 1);
    EXPECT_EQ(mac_logic_plan_choose_virtual(&one, MAC_VIRTUAL_AUTO, 0, 900), 0);
    EXPECT_EQ(one.useVirtual, 0u);
    DesktopPlan wide = built({{0, 0, 1920, 1080}});
    EXPECT_EQ(mac_logic_plan_choose_virtual(&wide, MAC_VIRTUAL_AUTO, 1440, -1), 0);
    EXPECT_EQ(mac_logic_plan_choose_virtual(&wide, MAC_VIRTUAL_NEVER, 1440, 900), 0);

    DesktopPlan two = built({{0, 0, 1440, 900}, {1440, 0, 1440, 900}});
    EXPECT_EQ(mac_logic_plan_choose_virtual(&two, MAC_VIRTUAL_AUTO, 2880, 900), 1);
    EXPECT_EQ(mac_logic_plan_choose_virtual(&two, MAC_VIRTUAL_NEVER, 1440, 900), 0);
    EXPECT_EQ(two.useVirtual, 0u);
}

TEST(PlanPoints, HalfOnlyWhenEveryMonitorIsHidpi) {
    uint32_t w = 99, h = 99;
    DesktopPlan plan{};
    ASSERT_EQ(buildPlan({{0, 0, 3000, 2000, 200, 100}, {3000, 0, 3000, 2000, 200, 100}}, &plan),
              MAC_PLAN_OK);
    EXPECT_EQ(mac_logic_plan_points(&plan, &w, &h), 1);
    EXPECT_EQ(w, 3000u);
    EXPECT_EQ(h, 1000u);
    plan.hidpi[1] = 0;
    EXPECT_EQ(mac_logic_plan_points(&plan, &w, &h), 1);
    EXPECT_EQ(w, 6000u);
    EXPECT_EQ(h, 2000u);
    plan.hidpi[0] = 0;
    EXPECT_EQ(mac_logic_plan_points(&plan, &w, &h), 0);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(mac_logic_plan_points(nullptr, &w, nullptr), 0);
}
