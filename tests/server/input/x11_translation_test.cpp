// The X11 backend's translation rules (no display needed).
#include <gtest/gtest.h>

#include "platform/x11/x11_events.h"

using namespace corvane::platform::x11;

TEST(X11Keycodes, MacKeyCodesGoBackToXkbKeycodes) {
    EXPECT_EQ(xKeycodeFromMac(0), 38u);    // a
    EXPECT_EQ(xKeycodeFromMac(8), 54u);    // c
    EXPECT_EQ(xKeycodeFromMac(36), 36u);   // Return
    EXPECT_EQ(xKeycodeFromMac(56), 50u);   // Shift_L
    EXPECT_EQ(xKeycodeFromMac(59), 37u);   // Control_L
    EXPECT_EQ(xKeycodeFromMac(55), 133u);  // Super_L for Command
    EXPECT_EQ(xKeycodeFromMac(54), 134u);  // Super_R for right Command
    EXPECT_EQ(xKeycodeFromMac(123), 113u); // Left arrow
}

TEST(X11Keycodes, RightControlIsControlRAndFnHasNoKey) {
    EXPECT_EQ(xKeycodeFromMac(62), 105u);
    EXPECT_EQ(xKeycodeFromMac(63), 0u);
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

TEST(X11Text, KeysymsForLatin1UnicodeAndControls) {
    EXPECT_EQ(keysymForCodePoint('a'), 0x61u);
    EXPECT_EQ(keysymForCodePoint(0xE9), 0xE9u);
    EXPECT_EQ(keysymForCodePoint(0x20AC), 0x010020ACu);
    EXPECT_EQ(keysymForCodePoint(0x1F600), 0x0101F600u);
    EXPECT_EQ(keysymForCodePoint(0x0D), 0xFF0Du);
    EXPECT_EQ(keysymForCodePoint(0x08), 0xFF08u);
    EXPECT_EQ(keysymForCodePoint(0x01), 0u);
    EXPECT_EQ(keysymForCodePoint(0x85), 0u);
}

TEST(X11Wheel, LinesBecomeButtonClicks) {
    auto up = wheelClicksFor(3, 0);
    ASSERT_EQ(up.size(), 1u);
    EXPECT_EQ(up[0].button, 4);
    EXPECT_EQ(up[0].clicks, 3);
    auto down = wheelClicksFor(-2, 0);
    ASSERT_EQ(down.size(), 1u);
    EXPECT_EQ(down[0].button, 5);
    EXPECT_EQ(down[0].clicks, 2);
    auto sideways = wheelClicksFor(0, -1);
    ASSERT_EQ(sideways.size(), 1u);
    EXPECT_EQ(sideways[0].button, 7);
    EXPECT_TRUE(wheelClicksFor(0, 0).empty());
}

// Right is X's button 3 and middle its button 2: swapped, a right click
// would paste instead of opening a menu.
TEST(X11Buttons, LeftRightMiddleAndExtraButtonsBecomeXButtons) {
    EXPECT_EQ(xButtonFor(0), 1);
    EXPECT_EQ(xButtonFor(1), 3);
    EXPECT_EQ(xButtonFor(2), 2);
    EXPECT_EQ(xButtonFor(3), 8) << "extra buttons come after the four wheel buttons";
    EXPECT_EQ(xButtonFor(21), 0);
    EXPECT_EQ(xButtonFor(-1), 0);
}

TEST(X11Clicks, RepeatsOnlyWhenXWouldNotCountThePress) {
    EXPECT_EQ(extraClicksNeeded(1, -1, 400), 0);
    EXPECT_EQ(extraClicksNeeded(2, 300, 400), 0);
    EXPECT_EQ(extraClicksNeeded(2, 450, 400), 1);
    EXPECT_EQ(extraClicksNeeded(3, -1, 400), 2);
}
