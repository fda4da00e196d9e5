// From RDP scan codes to macOS virtual key codes, and the modifier state
// that remote key events build up. Pure functions over WinPR's tables.
#pragma once
#include <cstdint>

namespace mac_keymap {

// macOS key codes of the modifier keys: bit n of the modifier state is key
// code kFirstModifier + n.
inline constexpr uint32_t kRightCommand = 54;
inline constexpr uint32_t kCommand = 55;
inline constexpr uint32_t kShift = 56;
inline constexpr uint32_t kCapsLock = 57;
inline constexpr uint32_t kOption = 58;
inline constexpr uint32_t kControl = 59;
inline constexpr uint32_t kRightShift = 60;
inline constexpr uint32_t kRightOption = 61;
inline constexpr uint32_t kRightControl = 62;
inline constexpr uint32_t kFunction = 63;
inline constexpr uint32_t kFirstModifier = kRightCommand;
inline constexpr uint32_t kLastModifier = kRightControl;

inline constexpr uint16_t kKeyExtended = 0x0100;
inline constexpr uint16_t kKeyRelease = 0x8000;
inline constexpr uint32_t kVkA = 0x41;

struct KeyLookup {
    uint32_t vk;  // virtual key with the extended bit
    uint32_t mac; // macOS key code; 0 is the A key or no counterpart
};

// Scan code (with the extended flag) to virtual key to macOS key code.
KeyLookup lookup(uint16_t flags, uint8_t scanCode);
// Control keys become Command keys when Ctrl-as-Cmd is on.
uint32_t applyCtrlAsCmd(uint32_t mac, bool ctrlAsCmd);
// Fn and keys without a macOS counterpart are not posted.
bool dropped(uint32_t mac, uint32_t vk);
bool isModifier(uint32_t mac);
// The modifier state after a key event (unchanged for other keys).
uint32_t updateModifiers(uint32_t state, uint32_t mac, bool down);
// Event flags for a modifier state. Caps Lock is tracked, never sent.
uint64_t flagsFor(uint32_t state);

} // namespace mac_keymap
