// What mutter's remote-desktop session takes for keys: Linux evdev key codes
// (NotifyKeyboardKeycode) and, for characters the layout may not have on a
// key, X keysyms (NotifyKeyboardKeysym). Pure translations, no D-Bus.
#pragma once
#include <cstddef>
#include <cstdint>

namespace corvane::platform::gnome {

// The evdev code (linux/input-event-codes.h) of the key a macOS virtual key
// code names, or 0 when Linux has no such key (Fn, for one).
uint32_t gnomeEvdevFromMacKey(uint16_t macKeyCode);

// The keysym that types one Unicode code point, or 0 for a code point no key
// can type (other control characters, surrogates, values past U+10FFFF).
uint32_t gnomeKeysymFromCodePoint(uint32_t codePoint);

// The code point of one UTF-16 character given as one unit or a surrogate
// pair, or 0 when the units are not exactly one character.
uint32_t gnomeCodePointFromUnits(const char16_t* units, size_t count);

} // namespace corvane::platform::gnome
