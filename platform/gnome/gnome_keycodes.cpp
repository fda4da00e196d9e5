// macOS virtual key codes name positions on an Apple keyboard; evdev codes
// name positions on a PC keyboard. The pairs below are the ones the X11
// backend reaches through WinPR's tables (an X key code is the evdev code plus
// 8 there), with the keys those tables miss filled in from the HID usages
// Linux assigns the same positions.
#include "gnome_keycodes.h"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <array>

namespace corvane::platform::gnome {

namespace {

struct MacToEvdev {
    uint16_t mac;
    uint16_t evdev;
};

// Sorted by macOS code; codes absent here have no Linux key.
constexpr MacToEvdev kMacToEvdev[] = {
    {0x00, KEY_A},          {0x01, KEY_S},          {0x02, KEY_D},
    {0x03, KEY_F},          {0x04, KEY_H},          {0x05, KEY_G},
    {0x06, KEY_Z},          {0x07, KEY_X},          {0x08, KEY_C},
    {0x09, KEY_V},          {0x0A, KEY_102ND}, // ISO section key, beside left Shift
    {0x0B, KEY_B},          {0x0C, KEY_Q},          {0x0D, KEY_W},
    {0x0E, KEY_E},          {0x0F, KEY_R},          {0x10, KEY_Y},
    {0x11, KEY_T},          {0x12, KEY_1},          {0x13, KEY_2},
    {0x14, KEY_3},          {0x15, KEY_4},          {0x16, KEY_6},
    {0x17, KEY_5},          {0x18, KEY_EQUAL},      {0x19, KEY_9},
    {0x1A, KEY_7},          {0x1B, KEY_MINUS},      {0x1C, KEY_8},
    {0x1D, KEY_0},          {0x1E, KEY_RIGHTBRACE}, {0x1F, KEY_O},
    {0x20, KEY_U},          {0x21, KEY_LEFTBRACE},  {0x22, KEY_I},
    {0x23, KEY_P},          {0x24, KEY_ENTER},      {0x25, KEY_L},
    {0x26, KEY_J},          {0x27, KEY_APOSTROPHE}, {0x28, KEY_K},
    {0x29, KEY_SEMICOLON},  {0x2A, KEY_BACKSLASH},  {0x2B, KEY_COMMA},
    {0x2C, KEY_SLASH},      {0x2D, KEY_N},          {0x2E, KEY_M},
    {0x2F, KEY_DOT},        {0x30, KEY_TAB},        {0x31, KEY_SPACE},
    {0x32, KEY_GRAVE},      {0x33, KEY_BACKSPACE},  {0x35, KEY_ESC},
    {0x36, KEY_RIGHTMETA},  {0x37, KEY_LEFTMETA},   {0x38, KEY_LEFTSHIFT},
    {0x39, KEY_CAPSLOCK},   {0x3A, KEY_LEFTALT},    {0x3B, KEY_LEFTCTRL},
    {0x3C, KEY_RIGHTSHIFT}, {0x3D, KEY_RIGHTALT},   {0x3E, KEY_RIGHTCTRL},
    {0x40, KEY_F17},        {0x41, KEY_KPDOT},      {0x43, KEY_KPASTERISK},
    {0x45, KEY_KPPLUS},     {0x47, KEY_NUMLOCK}, // Clear sits where Num Lock is
    {0x48, KEY_VOLUMEUP},   {0x49, KEY_VOLUMEDOWN}, {0x4A, KEY_MUTE},
    {0x4B, KEY_KPSLASH},    {0x4C, KEY_KPENTER},    {0x4E, KEY_KPMINUS},
    {0x4F, KEY_F18},        {0x50, KEY_F19},        {0x51, KEY_KPEQUAL},
    {0x52, KEY_KP0},        {0x53, KEY_KP1},        {0x54, KEY_KP2},
    {0x55, KEY_KP3},        {0x56, KEY_KP4},        {0x57, KEY_KP5},
    {0x58, KEY_KP6},        {0x59, KEY_KP7},        {0x5A, KEY_F20},
    {0x5B, KEY_KP8},        {0x5C, KEY_KP9},        {0x5D, KEY_YEN},
    {0x5E, KEY_RO},         {0x5F, KEY_KPCOMMA},    {0x60, KEY_F5},
    {0x61, KEY_F6},         {0x62, KEY_F7},         {0x63, KEY_F3},
    {0x64, KEY_F8},         {0x65, KEY_F9},         {0x66, KEY_HANJA}, // Eisu (HID LANG2)
    {0x67, KEY_F11},        {0x68, KEY_HANGEUL},                       // Kana (HID LANG1)
    {0x69, KEY_SYSRQ}, // F13 sits where Print Screen is
    {0x6A, KEY_F16},        {0x6B, KEY_F14},        {0x6D, KEY_F10},
    {0x6E, KEY_COMPOSE},                       // the PC Menu key
    {0x6F, KEY_F12},        {0x71, KEY_PAUSE}, // F15 sits where Pause is
    {0x72, KEY_INSERT},                        // Help sits where Insert is
    {0x73, KEY_HOME},       {0x74, KEY_PAGEUP},     {0x75, KEY_DELETE},
    {0x76, KEY_F4},         {0x77, KEY_END},        {0x78, KEY_F2},
    {0x79, KEY_PAGEDOWN},   {0x7A, KEY_F1},         {0x7B, KEY_LEFT},
    {0x7C, KEY_RIGHT},      {0x7D, KEY_DOWN},       {0x7E, KEY_UP},
};

constexpr bool sortedByMac() {
    for (size_t i = 1; i < std::size(kMacToEvdev); ++i)
        if (kMacToEvdev[i - 1].mac >= kMacToEvdev[i].mac)
            return false;
    return true;
}
static_assert(sortedByMac(), "kMacToEvdev must stay sorted for the lookup");

bool isSurrogate(uint32_t cp) {
    return cp >= 0xD800 && cp <= 0xDFFF;
}

} // namespace

uint32_t gnomeEvdevFromMacKey(uint16_t macKeyCode) {
    size_t lo = 0, hi = std::size(kMacToEvdev);
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (kMacToEvdev[mid].mac < macKeyCode)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < std::size(kMacToEvdev) && kMacToEvdev[lo].mac == macKeyCode ? kMacToEvdev[lo].evdev
                                                                            : 0;
}

uint32_t gnomeKeysymFromCodePoint(uint32_t cp) {
    // Line ends arrive as LF or CR; a layout has Return, not Linefeed.
    if (cp == 0x0A || cp == 0x0D)
        return 0xFF0D; // XK_Return
    const bool typedControl = cp == 0x08 || cp == 0x09 || cp == 0x1B || cp == 0x7F;
    if (!typedControl && (cp < 0x20 || (cp >= 0x80 && cp < 0xA0)))
        return 0;
    if (isSurrogate(cp) || cp > 0x10FFFF)
        return 0;
    // xkbcommon knows the legacy keysyms (aogonek, Greek, Hebrew, the Euro
    // sign...) that layouts carry instead of the Unicode-range keysym; a
    // keysym lookup in the compositor's keymap only matches those.
    return xkb_utf32_to_keysym(cp);
}

uint32_t gnomeCodePointFromUnits(const char16_t* units, size_t count) {
    if (!units || count == 0)
        return 0;
    const uint32_t first = units[0];
    const bool high = first >= 0xD800 && first <= 0xDBFF;
    if (count == 1)
        return isSurrogate(first) ? 0 : first;
    if (count == 2 && high && units[1] >= 0xDC00 && units[1] <= 0xDFFF)
        return 0x10000 + ((first - 0xD800) << 10) + (units[1] - 0xDC00);
    return 0;
}

} // namespace corvane::platform::gnome
