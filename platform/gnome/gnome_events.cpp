#include "gnome_events.h"

#include <vector>

#include "gnome_keycodes.h"
#include "gnome_stream_map.h"
#include "gnome_wheel.h"

namespace corvane::platform::gnome {

namespace {

struct ModifierClass {
    uint64_t flag;
    uint16_t leftMac;
    uint16_t rightMac;
};

// Shift, Control, Option, Command: macOS key codes of both keys.
constexpr std::array<ModifierClass, 4> kModifierClasses = {{
    {kFlagShift, 0x38, 0x3C},
    {kFlagControl, 0x3B, 0x3E},
    {kFlagOption, 0x3A, 0x3D},
    {kFlagCommand, 0x37, 0x36},
}};

bool isModifierKey(uint16_t mac) {
    for (const auto& c : kModifierClasses)
        if (mac == c.leftMac || mac == c.rightMac)
            return true;
    return false;
}

struct ButtonOf {
    bool press;
    bool release;
    int32_t button; // EventPoster numbering
};

// What a mouse event type does besides moving the pointer.
ButtonOf buttonOf(MouseEventType type, int32_t button) {
    switch (type) {
    case MouseEventType::LeftDown:
        return {true, false, 0};
    case MouseEventType::LeftUp:
        return {false, true, 0};
    case MouseEventType::RightDown:
        return {true, false, 1};
    case MouseEventType::RightUp:
        return {false, true, 1};
    case MouseEventType::OtherDown:
        return {true, false, button};
    case MouseEventType::OtherUp:
        return {false, true, button};
    default:
        return {false, false, 0};
    }
}

} // namespace

bool GnomeEvents::keycode(uint32_t evdev, bool down) {
    return session_.callSession("NotifyKeyboardKeycode", [evdev, down](sd_bus_message* m) {
        return sd_bus_message_append(m, "ub", evdev, int(down));
    });
}

bool GnomeEvents::keysym(uint32_t sym, bool down) {
    return session_.callSession("NotifyKeyboardKeysym", [sym, down](sd_bus_message* m) {
        return sd_bus_message_append(m, "ub", sym, int(down));
    });
}

bool GnomeEvents::pointerButton(int32_t evdev, bool down) {
    return session_.callSession("NotifyPointerButton", [evdev, down](sd_bus_message* m) {
        return sd_bus_message_append(m, "ib", evdev, int(down));
    });
}

// Positions arrive in the global display space; mutter takes them in the
// own coordinates of the stream under the pointer.
bool GnomeEvents::motion(PointF at) {
    std::vector<GnomeStreamPlace> places;
    if (const auto stream = session_.stream())
        places.push_back({stream->streamPath, stream->x, stream->y, stream->width, stream->height});
    for (const GnomeVirtualMonitor& m : monitors_.list())
        places.push_back(
            {m.stream.streamPath, m.stream.x, m.stream.y, m.stream.width, m.stream.height});
    const auto target = gnomeStreamAt(places, at);
    if (!target)
        return false;
    return session_.pointerAt(target->streamPath, target->x, target->y);
}

// A key event carries its modifiers as flags; mutter only knows held keys.
// Press the left key of a class the flags want but nobody holds, and let go
// of such a helper key once the flags no longer want it.
void GnomeEvents::syncModifiers(uint64_t flags) {
    for (size_t i = 0; i < kModifierClasses.size(); ++i) {
        const auto& c = kModifierClasses[i];
        const uint32_t left = gnomeEvdevFromMacKey(c.leftMac);
        const uint32_t right = gnomeEvdevFromMacKey(c.rightMac);
        const bool held = keys_.count(left) || keys_.count(right);
        const bool wanted = (flags & c.flag) != 0;
        if (wanted && !held && left && keycode(left, true)) {
            synthesized_[i] = left;
        } else if (!wanted && synthesized_[i]) {
            keycode(synthesized_[i], false);
            synthesized_[i] = 0;
        }
    }
}

bool GnomeEvents::postKey(uint16_t macKeyCode, bool down, uint64_t flags) {
    const uint32_t evdev = gnomeEvdevFromMacKey(macKeyCode);
    if (evdev == 0)
        return false;
    std::lock_guard lock(mutex_);
    if (isModifierKey(macKeyCode)) {
        // The real key replaces a helper press of its class.
        for (auto& s : synthesized_)
            if (s == evdev)
                s = 0;
    } else {
        syncModifiers(flags);
    }
    if (!keycode(evdev, down))
        return false;
    if (down)
        keys_.insert(evdev);
    else
        keys_.erase(evdev);
    return true;
}

// Text goes as a keysym; mutter 43 types only those the current layout
// has (it answers an error for others, which nobody waits for).
bool GnomeEvents::postUnicode(const char16_t* units, size_t count, bool down) {
    const uint32_t sym = gnomeKeysymFromCodePoint(gnomeCodePointFromUnits(units, count));
    if (sym == 0)
        return false;
    std::lock_guard lock(mutex_);
    if (!keysym(sym, down))
        return false;
    if (down)
        keysyms_.insert(sym);
    else
        keysyms_.erase(sym);
    return true;
}

// mutter counts double clicks itself from the presses' timing, as for a
// local mouse; the click state needs no help here.
bool GnomeEvents::postMouse(MouseEventType type, PointF at, int32_t button, int64_t) {
    std::lock_guard lock(mutex_);
    if (!motion(at))
        return false;
    const ButtonOf b = buttonOf(type, button);
    if (!b.press && !b.release)
        return true;
    const int32_t evdev = gnomeEvdevButton(b.button);
    if (evdev == 0 || !pointerButton(evdev, b.press))
        return false;
    if (b.press)
        buttons_.insert(evdev);
    else
        buttons_.erase(evdev);
    return true;
}

bool GnomeEvents::postScroll(int32_t verticalLines, int32_t horizontalLines) {
    for (const GnomeWheelStep& step : gnomeWheelSteps(verticalLines, horizontalLines))
        if (!session_.callSession("NotifyPointerAxisDiscrete", [step](sd_bus_message* m) {
                return sd_bus_message_append(m, "ui", step.axis, step.steps);
            }))
            return false;
    return true;
}

void GnomeEvents::releaseAll() {
    std::lock_guard lock(mutex_);
    for (int32_t b : buttons_)
        pointerButton(b, false);
    for (uint32_t k : keys_)
        keycode(k, false);
    for (uint32_t s : keysyms_)
        keysym(s, false);
    for (uint32_t& s : synthesized_) {
        if (s && !keys_.count(s))
            keycode(s, false);
        s = 0;
    }
    buttons_.clear();
    keys_.clear();
    keysyms_.clear();
}

} // namespace corvane::platform::gnome
