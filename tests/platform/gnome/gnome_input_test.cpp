// Input for mutter: macOS key codes to evdev codes, characters to keysyms,
// the wheel and the buttons, and pointer motion to the stream under the
// pointer in that stream's own coordinates.
#include <linux/input-event-codes.h>
#include <winpr/input.h>

#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "platform/gnome/gnome_keycodes.h"
#include "platform/gnome/gnome_stream_map.h"
#include "platform/gnome/gnome_wheel.h"

using namespace corvane::platform;
using namespace corvane::platform::gnome;

// Keys of every group: letters, digits, punctuation, modifiers (left and
// right), the keypad, function keys, the editing block and the arrows.
TEST(GnomeKeycodes, MacKeysReachTheKeyAtTheSamePosition) {
    const struct {
        uint16_t mac;
        uint32_t evdev;
        const char* name;
    } cases[] = {
        {0x00, KEY_A, "A"},
        {0x06, KEY_Z, "Z"},
        {0x10, KEY_Y, "Y"},
        {0x12, KEY_1, "1"},
        {0x1D, KEY_0, "0"},
        {0x32, KEY_GRAVE, "grave"},
        {0x2A, KEY_BACKSLASH, "backslash"},
        {0x0A, KEY_102ND, "ISO section"},
        {0x24, KEY_ENTER, "Return"},
        {0x30, KEY_TAB, "Tab"},
        {0x31, KEY_SPACE, "Space"},
        {0x33, KEY_BACKSPACE, "Delete (backspace)"},
        {0x35, KEY_ESC, "Escape"},
        {0x38, KEY_LEFTSHIFT, "Shift"},
        {0x3C, KEY_RIGHTSHIFT, "right Shift"},
        {0x3B, KEY_LEFTCTRL, "Control"},
        {0x3E, KEY_RIGHTCTRL, "right Control"},
        {0x3A, KEY_LEFTALT, "Option"},
        {0x3D, KEY_RIGHTALT, "right Option"},
        {0x37, KEY_LEFTMETA, "Command"},
        {0x36, KEY_RIGHTMETA, "right Command"},
        {0x39, KEY_CAPSLOCK, "Caps Lock"},
        {0x52, KEY_KP0, "keypad 0"},
        {0x5C, KEY_KP9, "keypad 9"},
        {0x4C, KEY_KPENTER, "keypad Enter"},
        {0x51, KEY_KPEQUAL, "keypad ="},
        {0x47, KEY_NUMLOCK, "keypad Clear"},
        {0x7A, KEY_F1, "F1"},
        {0x6F, KEY_F12, "F12"},
        {0x69, KEY_SYSRQ, "F13"},
        {0x5A, KEY_F20, "F20"},
        {0x75, KEY_DELETE, "forward delete"},
        {0x72, KEY_INSERT, "Help"},
        {0x73, KEY_HOME, "Home"},
        {0x79, KEY_PAGEDOWN, "Page Down"},
        {0x7B, KEY_LEFT, "Left"},
        {0x7E, KEY_UP, "Up"},
        {0x48, KEY_VOLUMEUP, "volume up"},
        {0x4A, KEY_MUTE, "mute"},
        {0x5D, KEY_YEN, "JIS Yen"},
        {0x68, KEY_HANGEUL, "JIS Kana"},
        {0x6E, KEY_COMPOSE, "Menu"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gnomeEvdevFromMacKey(c.mac), c.evdev) << c.name;
}

TEST(GnomeKeycodes, KeysLinuxDoesNotHaveGiveZero) {
    const uint16_t none[] = {0x34, 0x3F /* Fn */, 0x42, 0x44, 0x46,  0x4D,
                             0x6C, 0x70,          0x7F, 0x80, 0xFFFF};
    for (uint16_t mac : none)
        EXPECT_EQ(gnomeEvdevFromMacKey(mac), 0u) << "mac key " << mac;
}

// The X11 backend types the same keys through WinPR's tables (X key code =
// evdev + 8). Both backends must agree except where the table here knows
// better; those keys are named, so that a new difference shows up.
TEST(GnomeKeycodes, AgreesWithTheX11PathExceptForNamedKeys) {
    const std::set<uint16_t> knownBetter = {
        0x3E,                   // right Control: WinPR says right Windows
        0x3F,                   // Fn: WinPR says right Windows, X11 sends nothing
        0x48, 0x49, 0x4A,       // volume keys: WinPR has none
        0x51,                   // keypad =: WinPR has none
        0x5D, 0x5E, 0x66, 0x68, // JIS keys: WinPR has none
        0x5F,                   // JIS keypad comma: WinPR says keypad dot
        0x6E,                   // Menu: WinPR has none
    };
    int compared = 0;
    for (uint16_t mac = 0; mac < 0x80; ++mac) {
        if (knownBetter.count(mac))
            continue;
        const DWORD vk = GetVirtualKeyCodeFromKeycode(mac, WINPR_KEYCODE_TYPE_APPLE);
        const uint32_t x = (vk == 0 || vk == VK_NONE)
                               ? 0
                               : GetKeycodeFromVirtualKeyCode(vk, WINPR_KEYCODE_TYPE_XKB);
        const uint32_t expected = x == 0 ? 0 : x - 8;
        EXPECT_EQ(gnomeEvdevFromMacKey(mac), expected) << "mac key " << mac;
        compared += expected != 0;
    }
    EXPECT_GT(compared, 90) << "WinPR's table went missing: nothing was compared";
}

TEST(GnomeKeysyms, CharactersBecomeTheKeysymsLayoutsCarry) {
    const struct {
        uint32_t cp;
        uint32_t keysym;
        const char* what;
    } cases[] = {
        {'a', 0x61, "ASCII letter"},
        {' ', 0x20, "space"},
        {0xE9, 0xE9, "Latin-1 e acute keeps its code point"},
        {0xA0, 0xA0, "no-break space"},
        {0x105, 0x1B1, "a ogonek: the legacy keysym Polish layouts carry"},
        {0x20AC, 0x20AC, "Euro sign: EuroSign"},
        {0x3B1, 0x7E1, "Greek alpha: the legacy Greek keysym"},
        {0x1F600, 0x0101F600, "emoji: the Unicode range"},
        {0x2603, 0x01002603, "snowman: the Unicode range"},
        {0x08, 0xFF08, "backspace"},
        {0x09, 0xFF09, "tab"},
        {0x0A, 0xFF0D, "line feed types Return"},
        {0x0D, 0xFF0D, "carriage return"},
        {0x1B, 0xFF1B, "escape"},
        {0x7F, 0xFFFF, "delete"},
        {0x00, 0, "NUL"},
        {0x07, 0, "bell"},
        {0x85, 0, "C1 control"},
        {0xD800, 0, "lone surrogate"},
        {0x110000, 0, "past Unicode"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gnomeKeysymFromCodePoint(c.cp), c.keysym) << c.what;
}

TEST(GnomeKeysyms, UnitsMakeOneCharacterOrNone) {
    const struct {
        std::u16string units;
        uint32_t cp;
    } cases[] = {
        {u"a", 'a'},
        {u"\u00e9", 0xE9},
        {u"\U0001F600", 0x1F600},
        {std::u16string(1, char16_t(0xD83D)), 0},                // high surrogate alone
        {std::u16string(1, char16_t(0xDE00)), 0},                // low surrogate alone
        {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, 0}, // pair reversed
        {u"ab", 0},
        {u"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gnomeCodePointFromUnits(c.units.data(), c.units.size()), c.cp)
            << "units " << c.units.size();
    EXPECT_EQ(gnomeCodePointFromUnits(nullptr, 1), 0u);
}

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

namespace {

// The real monitor at 0,0 and two virtual monitors to its right.
const std::vector<GnomeStreamPlace> kLayout = {
    {"/real", 0, 0, 1280, 800},
    {"/virtual-a", 1280, 0, 1024, 768},
    {"/virtual-b", 2304, 0, 800, 600},
};

struct Case {
    const char* what;
    PointF at;
    const char* stream;
    double x, y;
};

TEST(GnomeStreamMap, PicksTheStreamUnderThePointAndMovesThePointIntoIt) {
    const Case cases[] = {
        {"inside the real monitor", {100, 50}, "/real", 100, 50},
        {"the first virtual monitor's corner", {1280, 0}, "/virtual-a", 0, 0},
        {"inside the first virtual monitor", {1800.5, 400.25}, "/virtual-a", 520.5, 400.25},
        {"the last pixel of the first virtual monitor", {2303, 767}, "/virtual-a", 1023, 767},
        {"the second virtual monitor's first column", {2304, 10}, "/virtual-b", 0, 10},
        {"below the short first virtual monitor: the nearest is itself",
         {1500, 790},
         "/virtual-a",
         220,
         767},
        {"left of everything", {-40, 300}, "/real", 0, 300},
        {"right of everything", {4000, 100}, "/virtual-b", 799, 100},
        {"just below the last monitor", {2500, 650}, "/virtual-b", 196, 599},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto got = gnomeStreamAt(kLayout, c.at);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->streamPath, c.stream);
        EXPECT_DOUBLE_EQ(got->x, c.x);
        EXPECT_DOUBLE_EQ(got->y, c.y);
    }
}

TEST(GnomeStreamMap, StreamsWithoutASizeAreNeverChosen) {
    const std::vector<GnomeStreamPlace> layout = {{"/unsized", 0, 0, 0, 0},
                                                  {"/sized", 500, 0, 100, 100}};
    const auto got = gnomeStreamAt(layout, {10, 10});
    ASSERT_TRUE(got);
    EXPECT_EQ(got->streamPath, "/sized");
    EXPECT_DOUBLE_EQ(got->x, 0);
    EXPECT_FALSE(gnomeStreamAt({{"/unsized", 0, 0, 0, 0}}, {0, 0}));
    EXPECT_FALSE(gnomeStreamAt({}, {0, 0}));
}

} // namespace
