// Keyboard and Unicode input.
#include "input.h"

#include <atomic>

#include "base/env.h"
#include "base/log.h"
#include "input_held.h"
#include "input_logic.h"
#include "input_trace.h"
#include "keymap.h"
#include "platform/platform.h"

namespace {

constexpr int kUnknown = -1;
std::atomic<int> gCtrlAsCmd{kUnknown};
std::atomic<uint16_t> gPendingHigh{0};

// Read once, on the first key event, and kept for the process.
bool ctrlAsCmd() {
    int value = gCtrlAsCmd.load();
    if (value == kUnknown) {
        value = mac_env::ctrlAsCmd() ? 1 : 0;
        gCtrlAsCmd.store(value);
    }
    return value == 1;
}

macShadowSubsystem* recordOf(rdpShadowSubsystem* subsystem) {
    return reinterpret_cast<macShadowSubsystem*>(subsystem);
}

} // namespace

void mac_shadow_input_reset_process_state() {
    gCtrlAsCmd.store(kUnknown);
    gPendingHigh.store(0);
    mac_input_trace::reset();
    mac_input_held::forget();
}

void mac_shadow_input_forget_pending_text() {
    gPendingHigh.store(0);
}

extern "C" BOOL mac_shadow_input_synchronize_event(rdpShadowSubsystem* subsystem,
                                                   rdpShadowClient* client, UINT32 flags) {
    // Toggle-key state is not synchronised.
    return subsystem && client ? TRUE : FALSE;
}

extern "C" BOOL mac_shadow_input_keyboard_event(rdpShadowSubsystem* subsystem,
                                                rdpShadowClient* client, UINT16 flags, UINT8 code) {
    if (!subsystem)
        return FALSE;
    macShadowSubsystem* record = recordOf(subsystem);
    record->inputSeen = true;
    if (!client)
        return FALSE;
    // View-only: the user is there (the screen stays awake), the key is not.
    if (record->viewOnly.load())
        return TRUE;

    const mac_keymap::KeyLookup key = mac_keymap::lookup(flags, code);
    if (mac_input_trace::take(mac_input_trace::Key))
        MAC_INFO("key: flags=0x%04x scancode=0x%02x vk=0x%02x mac=%u", flags, code, key.vk,
                 key.mac);
    const uint32_t mac = mac_keymap::applyCtrlAsCmd(key.mac, ctrlAsCmd());
    if (mac_keymap::dropped(mac, key.vk))
        return TRUE;

    const bool down = (flags & mac_keymap::kKeyRelease) == 0;
    std::lock_guard lock(mac_input_held::lock());
    if (mac_input_held::viewOnly(client))
        return TRUE;
    record->modifierState = mac_keymap::updateModifiers(record->modifierState, mac, down);
    mac_input_held::noteKey(client, mac, down);
    corvane::platform::current().events().postKey(static_cast<uint16_t>(mac), down,
                                                  mac_keymap::flagsFor(record->modifierState));
    return TRUE;
}

extern "C" BOOL mac_shadow_input_unicode_keyboard_event(rdpShadowSubsystem* subsystem,
                                                        rdpShadowClient* client, UINT16 flags,
                                                        UINT16 code) {
    if (!subsystem || !client)
        return FALSE;
    recordOf(subsystem)->inputSeen = true;
    if (recordOf(subsystem)->viewOnly.load())
        return TRUE;
    if (mac_input_trace::take(mac_input_trace::Unicode))
        MAC_INFO("unicode key: flags=0x%04x code=0x%04x", flags, code);

    std::lock_guard lock(mac_input_held::lock());
    if (mac_input_held::viewOnly(client))
        return TRUE;
    uint16_t pending = gPendingHigh.load();
    const mac_input::TextStep step = mac_input::unicodeStep(pending, flags, code);
    gPendingHigh.store(pending);
    if (step.count == 0)
        return TRUE;
    const bool down = (flags & mac_keymap::kKeyRelease) == 0;
    corvane::platform::current().events().postUnicode(step.units, static_cast<size_t>(step.count),
                                                      down);
    return TRUE;
}

void mac_shadow_input_fill_callbacks(macShadowSubsystem* record) {
    rdpShadowSubsystem& base = record->common.base;
    base.SynchronizeEvent = mac_shadow_input_synchronize_event;
    base.KeyboardEvent = mac_shadow_input_keyboard_event;
    base.UnicodeKeyboardEvent = mac_shadow_input_unicode_keyboard_event;
    base.MouseEvent = mac_shadow_input_mouse_event;
    base.ExtendedMouseEvent = mac_shadow_input_extended_mouse_event;
}
