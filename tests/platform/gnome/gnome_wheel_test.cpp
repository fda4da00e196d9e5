// The wheel and buttons for mutter.
#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

#include <climits>

#include "platform/gnome/gnome_wheel.h"

using namespace corvane::platform::gnome;

TEST(GnomeWheel, LinesBecomeStepsInMuttersDirection) {
    using V = std::vector<GnomeWheelStep>;
    const struct {
        int32_t vertical, horizontal;
        V steps;
        const char* what;
    } cases[] = {
        {0, 0, V{}, "nothing to scroll sends nothing"},
        {1, 0, V{{kGnomeAxisVertical, -1}}, "up is negative"},
        {-3, 0, V{{kGnomeAxisVertical, 3}}, "down is positive"},
        {0, 2, V{{kGnomeAxisHorizontal, -2}}, "left is negative"},
        {0, -1, V{{kGnomeAxisHorizontal, 1}}, "right is positive"},
        {2, -5, V{{kGnomeAxisVertical, -2}, {kGnomeAxisHorizontal, 5}},
         "both axes, vertical first"},
        {INT_MIN, 0, V{{kGnomeAxisVertical, INT_MAX}}, "the most negative count does not overflow"},
        {INT_MAX, 0, V{{kGnomeAxisVertical, -INT_MAX}}, "the largest count"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gnomeWheelSteps(c.vertical, c.horizontal), c.steps) << c.what;
}

TEST(GnomeWheel, ButtonsBecomeEvdevButtons) {
    const struct {
        int32_t button;
        int32_t evdev;
    } cases[] = {
        {0, BTN_LEFT},  {1, BTN_RIGHT},   {2, BTN_MIDDLE}, {3, BTN_SIDE},
        {4, BTN_EXTRA}, {5, BTN_FORWARD}, {6, BTN_BACK},   {7, BTN_TASK},
        {8, 0},         {-1, 0},          {1000, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gnomeEvdevButton(c.button), c.evdev) << "button " << c.button;
}
