// Mouse input: moves, drags, buttons with click counting, and the wheel.
#include "base/clock.h"
#include "base/log.h"
#include "capture/mac_capture.h"
#include "core/section_lock.h"
#include "input.h"
#include "input_held.h"
#include "input_logic.h"
#include "input_trace.h"
#include "platform/platform.h"

using corvane::platform::MouseEventType;
using corvane::platform::PointF;

namespace {

// Copies the mappings under subsystemLock so that nothing is posted while
// the lock is held.
mac_input::HostPoint mapPoint(macShadowSubsystem* record, int32_t x, int32_t y) {
    DisplayMapping local[16];
    int32_t count = 0;
    {
        SectionLock lock(record->subsystemLock);
        count = record->mappingCount;
        if (count < 0)
            count = 0;
        if (count > 16)
            count = 16;
        for (int32_t i = 0; i < count; ++i)
            local[i] = record->mappings[i];
    }
    return mac_input::mapToHost(local, count, x, y);
}

MouseEventType moveType(const macShadowSubsystem* record) {
    if (record->leftHeld)
        return MouseEventType::LeftDragged;
    if (record->rightHeld)
        return MouseEventType::RightDragged;
    if (record->middleHeld)
        return MouseEventType::OtherDragged;
    return MouseEventType::Moved;
}

struct ButtonEvent {
    int32_t button;
    MouseEventType type;
    bool* held;
};

// Only one button per event, left before right before middle.
bool buttonOf(macShadowSubsystem* record, uint16_t flags, ButtonEvent& out) {
    const bool down = (flags & PTR_FLAGS_DOWN) != 0;
    if (flags & PTR_FLAGS_BUTTON1)
        out = {0, down ? MouseEventType::LeftDown : MouseEventType::LeftUp, &record->leftHeld};
    else if (flags & PTR_FLAGS_BUTTON2)
        out = {1, down ? MouseEventType::RightDown : MouseEventType::RightUp, &record->rightHeld};
    else if (flags & PTR_FLAGS_BUTTON3)
        out = {2, down ? MouseEventType::OtherDown : MouseEventType::OtherUp, &record->middleHeld};
    else
        return false;
    return true;
}

void countClick(macShadowSubsystem* record, int32_t button, mac_input::HostPoint at) {
    const uint64_t now = mac_now_ms();
    const mac_input::ClickHistory last{record->lastClickTick, record->lastClickButton,
                                       record->lastClickX, record->lastClickY, record->clickCount};
    record->clickCount = mac_input::nextClickCount(last, now, button, at, mac_double_click_ms());
    record->lastClickTick = now;
    record->lastClickButton = button;
    record->lastClickX = at.x;
    record->lastClickY = at.y;
}

void postButton(macShadowSubsystem* record, const rdpShadowClient* client, uint16_t flags,
                mac_input::HostPoint at) {
    ButtonEvent event{};
    if (!buttonOf(record, flags, event))
        return;
    const bool down = (flags & PTR_FLAGS_DOWN) != 0;
    *event.held = down;
    mac_input_held::noteButton(client, event.button, down);
    if (down)
        countClick(record, event.button, at);
    const int64_t clickState = record->clickCount > 1 ? record->clickCount : 1;
    corvane::platform::current().events().postMouse(event.type, PointF{at.x, at.y}, event.button,
                                                    clickState);
}

} // namespace

extern "C" BOOL mac_shadow_input_mouse_event(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                                             UINT16 flags, UINT16 x, UINT16 y) {
    if (!subsystem)
        return FALSE;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    record->inputSeen = true;
    if (!client)
        return FALSE;
    if (record->viewOnly.load())
        return TRUE;

    const mac_input::HostPoint at = mapPoint(record, x, y);
    if ((flags & (PTR_FLAGS_BUTTON1 | PTR_FLAGS_BUTTON2 | PTR_FLAGS_BUTTON3)) &&
        mac_input_trace::take(mac_input_trace::Click))
        MAC_INFO("click: flags=0x%04x at %u,%u (desktop %dx%d) -> %s %.0f,%.0f", flags, x, y,
                 __atomic_load_n(&record->desktopWidth, __ATOMIC_ACQUIRE),
                 __atomic_load_n(&record->desktopHeight, __ATOMIC_ACQUIRE),
                 corvane::platform::current().terms().position, at.x, at.y);

    auto& events = corvane::platform::current().events();
    std::lock_guard lock(mac_input_held::lock());
    if (mac_input_held::viewOnly(client))
        return TRUE;
    if (flags & PTR_FLAGS_WHEEL) {
        events.postScroll(mac_input::wheelLines(flags), 0);
        return TRUE;
    }
    mac_input_held::notePoint(at.x, at.y);
    if (flags & PTR_FLAGS_MOVE)
        events.postMouse(moveType(record), PointF{at.x, at.y}, 0, 0);
    postButton(record, client, flags, at);
    return TRUE;
}

extern "C" BOOL mac_shadow_input_extended_mouse_event(rdpShadowSubsystem* subsystem,
                                                      rdpShadowClient* client, UINT16 flags,
                                                      UINT16 x, UINT16 y) {
    if (!subsystem || !client)
        return FALSE;
    if (mac_input_trace::take(mac_input_trace::ExtendedMouse))
        MAC_INFO("extended mouse event (ignored): flags=0x%04x at %u,%u", flags, x, y);
    return TRUE;
}
