// Wheel lines, mapping and click counting. (Surrogate pairs, a mapping's
// scale and the clamp to the last monitor's last column are checked through
// the callbacks, in input_callbacks_test.cpp.)
#include <gtest/gtest.h>

#include "server/shadow/Mac/input/input_logic.h"

using namespace mac_input;

TEST(WheelLines, RotationIsDividedByFortyTowardsZero) {
    EXPECT_EQ(wheelLines(0x0200 | 0x0178), -3); // 0x178: -136
    EXPECT_EQ(wheelLines(0x0200 | 120), 3);
    EXPECT_EQ(wheelLines(0x0200 | 39), 0);
    EXPECT_EQ(wheelLines(0x0200 | 0x0100 | 0x88), -3); // -120
    EXPECT_EQ(wheelLines(0x0200 | 0x0100 | 0xD9), 0);  // -39
}

TEST(Mapping, WithoutMappingsThePixelIsThePoint) {
    const HostPoint p = mapToHost(nullptr, 0, 12, 34);
    EXPECT_DOUBLE_EQ(p.x, 12);
    EXPECT_DOUBLE_EQ(p.y, 34);
}

TEST(Mapping, AGapPullsOntoTheNearestMonitorAndTiesGoToTheFirst) {
    const DisplayMapping m[] = {{0, 0, 100, 100, 0, 0, 1.0}, {200, 0, 100, 100, 500, 0, 1.0}};
    EXPECT_DOUBLE_EQ(mapToHost(m, 2, 180, 10).x, 500); // nearer the second
    EXPECT_DOUBLE_EQ(mapToHost(m, 2, 120, 10).x, 99);  // nearer the first
    EXPECT_DOUBLE_EQ(mapToHost(m, 2, 150, 10).x, 500); // 51 vs 50: second is nearer
    EXPECT_DOUBLE_EQ(mapToHost(m, 2, 149, 10).x, 99);  // 50 vs 51
    const DisplayMapping tie[] = {{0, 0, 100, 100, 0, 0, 1.0}, {0, 0, 100, 100, 700, 0, 1.0}};
    EXPECT_DOUBLE_EQ(mapToHost(tie, 2, 5, 5).x, 5);
}

TEST(Mapping, AboveAndLeftClampToZero) {
    const DisplayMapping m[] = {{50, 50, 100, 100, 7, 9, 0.5}};
    const HostPoint p = mapToHost(m, 1, 0, 0);
    EXPECT_DOUBLE_EQ(p.x, 7);
    EXPECT_DOUBLE_EQ(p.y, 9);
}

TEST(ClickCount, SecondPressInTimeAndPlaceCountsUp) {
    ClickHistory last{1000, 0, 10, 10, 1};
    EXPECT_EQ(nextClickCount(last, 1300, 0, {12, 13}, 500), 2);
    last.count = 2;
    EXPECT_EQ(nextClickCount(last, 1300, 0, {10, 10}, 500), 3);
}

TEST(ClickCount, LateFarOrOtherButtonStartsAgain) {
    const ClickHistory last{1000, 0, 10, 10, 1};
    EXPECT_EQ(nextClickCount(last, 1501, 0, {10, 10}, 500), 1);
    EXPECT_EQ(nextClickCount(last, 1500, 0, {10, 10}, 500), 2);
    EXPECT_EQ(nextClickCount(last, 1100, 0, {14.5, 10}, 500), 1);
    EXPECT_EQ(nextClickCount(last, 1100, 0, {14, 6}, 500), 2);
    EXPECT_EQ(nextClickCount(last, 1100, 1, {10, 10}, 500), 1);
    EXPECT_EQ(nextClickCount(ClickHistory{}, 0, 0, {0, 0}, 500), 1);
}
