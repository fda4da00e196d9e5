#include "keymap.h"

#include <winpr/input.h>

#include "platform/events.h"

namespace mac_keymap {

namespace {
constexpr uint32_t kKeyboardTypeEnhanced = WINPR_KBD_TYPE_IBM_ENHANCED;

uint32_t bit(uint32_t mac) {
    return 1u << (mac - kFirstModifier);
}
} // namespace

KeyLookup lookup(uint16_t flags, uint8_t scanCode) {
    const uint32_t ext = flags & kKeyExtended;
    uint32_t vk = GetVirtualKeyCodeFromVirtualScanCode(scanCode | ext, kKeyboardTypeEnhanced);
    vk |= ext;
    uint32_t mac = GetKeycodeFromVirtualKeyCode(vk, WINPR_KEYCODE_TYPE_APPLE);
    // WinPR's Apple table has no entry for the extended right Control key.
    if (mac == 0 && vk == (VK_RCONTROL | KBDEXT))
        mac = kRightControl;
    return {vk, mac};
}

uint32_t applyCtrlAsCmd(uint32_t mac, bool ctrlAsCmd) {
    if (!ctrlAsCmd)
        return mac;
    if (mac == kControl)
        return kCommand;
    if (mac == kRightControl)
        return kRightCommand;
    return mac;
}

bool dropped(uint32_t mac, uint32_t vk) {
    if (mac == kFunction)
        return true;
    return mac == 0 && vk != kVkA;
}

bool isModifier(uint32_t mac) {
    return mac >= kFirstModifier && mac <= kLastModifier;
}

uint32_t updateModifiers(uint32_t state, uint32_t mac, bool down) {
    if (!isModifier(mac))
        return state;
    return down ? (state | bit(mac)) : (state & ~bit(mac));
}

uint64_t flagsFor(uint32_t state) {
    using namespace corvane::platform;
    uint64_t flags = 0;
    if (state & (bit(kShift) | bit(kRightShift)))
        flags |= kFlagShift;
    if (state & (bit(kControl) | bit(kRightControl)))
        flags |= kFlagControl;
    if (state & (bit(kOption) | bit(kRightOption)))
        flags |= kFlagOption;
    if (state & (bit(kCommand) | bit(kRightCommand)))
        flags |= kFlagCommand;
    return flags;
}

} // namespace mac_keymap
