// The X11 backend's translation rules (no display needed).
#include <gtest/gtest.h>

#include "platform/x11/x11_events.h"

using namespace corvane::platform::x11;

// a, c, Return, Shift_L, Control_L, Super_L for Command, Super_R for right
// Command, Left arrow, Control_R for right Control; Fn has no key.
TEST(X11Keycodes, MacKeyCodesGoBackToXkbKeycodes) {
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 38},   {8, 54},   {36, 36},  {56, 50},
                                                   {59, 37},  {55, 133}, {54, 134}, {123, 113},
                                                   {62, 105}, {63, 0}};
    for (const auto& [mac, x] : cases)
        EXPECT_EQ(xKeycodeFromMac(mac), x) << mac;
}

TEST(X11Text, CodePointsFromUnitsAndPairs) {
    const char16_t e[] = {0x00E9};
    const char16_t smile[] = {0xD83D, 0xDE00};
    const char16_t broken[] = {0xD83D, 0x0041};
    EXPECT_EQ(codePointFromUnits(e, 1), 0xE9u);
    EXPECT_EQ(codePointFromUnits(smile, 2), 0x1F600u);
    EXPECT_EQ(codePointFromUnits(broken, 2), 0u);
    EXPECT_EQ(codePointFromUnits(smile, 1), 0u);
    EXPECT_EQ(codePointFromUnits(nullptr, 1), 0u);
}

// Latin-1 as it is, other code points as Unicode keysyms, Return and
// Backspace as their keys, other controls as nothing.
TEST(X11Text, KeysymsForLatin1UnicodeAndControls) {
    const std::pair<uint32_t, uint32_t> cases[] = {{'a', 0x61},
                                                   {0xE9, 0xE9},
                                                   {0x20AC, 0x010020AC},
                                                   {0x1F600, 0x0101F600},
                                                   {0x0D, 0xFF0D},
                                                   {0x08, 0xFF08},
                                                   {0x01, 0},
                                                   {0x85, 0}};
    for (const auto& [codePoint, keysym] : cases)
        EXPECT_EQ(keysymForCodePoint(codePoint), keysym) << codePoint;
}

TEST(X11Wheel, LinesBecomeButtonClicks) {
    const struct {
        int vertical, horizontal, button, clicks;
    } cases[] = {{3, 0, 4, 3}, {-2, 0, 5, 2}, {0, -1, 7, 1}};
    for (const auto& c : cases) {
        const auto clicks = wheelClicksFor(c.vertical, c.horizontal);
        ASSERT_EQ(clicks.size(), 1u) << c.vertical << "," << c.horizontal;
        EXPECT_EQ(clicks[0].button, c.button);
        EXPECT_EQ(clicks[0].clicks, c.clicks);
    }
    EXPECT_TRUE(wheelClicksFor(0, 0).empty());
}

// Right is X's button 3 and middle its button 2: swapped, a right click
// would paste instead of opening a menu. Extra buttons come after the four
// wheel buttons.
TEST(X11Buttons, LeftRightMiddleAndExtraButtonsBecomeXButtons) {
    for (const auto& [button, x] : {std::pair{0, 1}, {1, 3}, {2, 2}, {3, 8}, {21, 0}, {-1, 0}})
        EXPECT_EQ(xButtonFor(button), x) << button;
}

TEST(X11Clicks, RepeatsOnlyWhenXWouldNotCountThePress) {
    EXPECT_EQ(extraClicksNeeded(1, -1, 400), 0);
    EXPECT_EQ(extraClicksNeeded(2, 300, 400), 0);
    EXPECT_EQ(extraClicksNeeded(2, 450, 400), 1);
    EXPECT_EQ(extraClicksNeeded(3, -1, 400), 2);
}
