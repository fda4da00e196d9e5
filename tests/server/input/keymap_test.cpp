// Scan codes to macOS key codes and the modifier state.
#include <gtest/gtest.h>

#include "platform/events.h"
#include "server/shadow/Mac/input/keymap.h"

using namespace mac_keymap;

namespace {
constexpr uint16_t kExt = kKeyExtended;
}

TEST(KeyLookup, TheAKeyIsVirtualKey41AndMacKeyCodeZero) {
    const KeyLookup a = lookup(0, 0x1E);
    EXPECT_EQ(a.vk, 0x41u);
    EXPECT_EQ(a.mac, 0u);
    EXPECT_FALSE(dropped(a.mac, a.vk));
}

TEST(KeyLookup, LetterAndControlKeysFollowTheAppleTable) {
    EXPECT_EQ(lookup(0, 0x2E).mac, 8u);          // C
    EXPECT_EQ(lookup(0, 0x1D).mac, kControl);    // left Control
    EXPECT_EQ(lookup(0, 0x2A).mac, kShift);      // left Shift
    EXPECT_EQ(lookup(0, 0x36).mac, kRightShift); // right Shift
    EXPECT_EQ(lookup(kExt, 0x4B).mac, 123u);     // left arrow (extended)
    EXPECT_EQ(lookup(kExt, 0x1C).mac, 76u);      // keypad Enter
    EXPECT_EQ(lookup(0, 0x1C).mac, 36u);         // Return
}

TEST(KeyLookup, AnUnmappedKeyIsDroppedButFnToo) {
    const KeyLookup none = lookup(0, 0x73); // ABNT_C1 has no macOS key
    EXPECT_EQ(none.mac, 0u);
    EXPECT_NE(none.vk, kVkA);
    EXPECT_TRUE(dropped(none.mac, none.vk));
    EXPECT_TRUE(dropped(kFunction, 0x00));
    EXPECT_FALSE(dropped(kControl, 0xA2));
}

TEST(ModifierState, BitsFollowKeyCodesFrom54) {
    uint32_t state = 0;
    state = updateModifiers(state, kRightCommand, true);
    EXPECT_EQ(state, 0x1u);
    state = updateModifiers(state, kRightControl, true);
    EXPECT_EQ(state, 0x101u);
    state = updateModifiers(state, 8, true); // not a modifier
    EXPECT_EQ(state, 0x101u);
    state = updateModifiers(state, kRightCommand, false);
    EXPECT_EQ(state, 0x100u);
}

TEST(ModifierState, FlagsCombineLeftAndRightAndLeaveCapsLockOut) {
    using namespace corvane::platform;
    const std::pair<uint32_t, uint64_t> cases[] = {
        {kShift, kFlagShift},          {kRightShift, kFlagShift},     {kControl, kFlagControl},
        {kRightControl, kFlagControl}, {kOption, kFlagOption},        {kRightOption, kFlagOption},
        {kCommand, kFlagCommand},      {kRightCommand, kFlagCommand}, {kCapsLock, 0}};
    for (const auto& [mac, flags] : cases)
        EXPECT_EQ(flagsFor(updateModifiers(0, mac, true)), flags) << mac;
}
