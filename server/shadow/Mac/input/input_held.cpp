#include "input_held.h"

#include <array>
#include <map>
#include <set>

#include "input.h"
#include "keymap.h"
#include "base/log.h"
#include "platform/platform.h"

using corvane::platform::MouseEventType;

namespace {

struct Held {
    std::set<uint32_t> keys; // macOS key codes as posted
    std::array<bool, 3> buttons{};
    bool empty() const { return keys.empty() && !buttons[0] && !buttons[1] && !buttons[2]; }
};

std::mutex gLock;
std::map<const rdpShadowClient*, Held> gHeld; // only clients holding something
std::set<const rdpShadowClient*> gViewOnly;    // clients switched to view-only
double gLastX = 0, gLastY = 0;                // where the pointer was last posted

constexpr MouseEventType kUp[3] = {MouseEventType::LeftUp, MouseEventType::RightUp,
                                   MouseEventType::OtherUp};

// Posts the releases; returns the number of keys and buttons let go.
std::pair<int, int> release(macShadowSubsystem* record, const Held& held) {
    auto& events = corvane::platform::current().events();
    int keys = 0, buttons = 0;
    // Ordinary keys first, so that they go up with the modifiers still in
    // their flags, as a person would let go.
    for (int pass = 0; pass < 2; ++pass)
        for (uint32_t mac : held.keys) {
            if (mac_keymap::isModifier(mac) != (pass == 1))
                continue;
            record->modifierState = mac_keymap::updateModifiers(record->modifierState, mac, false);
            events.postKey(static_cast<uint16_t>(mac), false,
                           mac_keymap::flagsFor(record->modifierState));
            ++keys;
        }
    bool* flags[3] = {&record->leftHeld, &record->rightHeld, &record->middleHeld};
    for (int32_t b = 0; b < 3; ++b)
        if (held.buttons[b]) {
            events.postMouse(kUp[b], {gLastX, gLastY}, b, 1);
            *flags[b] = false;
            ++buttons;
        }
    return {keys, buttons};
}

// Nobody holds anything: whatever state is left over is stale.
void startAfresh(macShadowSubsystem* record) {
    record->modifierState = 0;
    record->leftHeld = record->rightHeld = record->middleHeld = false;
    record->clickCount = 0;
    record->lastClickTick = 0;
    record->lastClickButton = 0;
    record->lastClickX = record->lastClickY = 0;
    mac_shadow_input_forget_pending_text();
    corvane::platform::current().events().releaseAll();
}

// With gLock held: lets go of what one client holds, and starts afresh once
// nobody holds anything. Returns the keys and buttons let go of.
std::pair<int, int> releaseClient(macShadowSubsystem* record, rdpShadowClient* client) {
    std::pair<int, int> released{0, 0};
    if (auto it = gHeld.find(client); it != gHeld.end()) {
        const Held held = std::move(it->second);
        gHeld.erase(it);
        released = release(record, held);
    }
    if (gHeld.empty())
        startAfresh(record);
    return released;
}

} // namespace

namespace mac_input_held {

std::mutex& lock() {
    return gLock;
}

void noteKey(const rdpShadowClient* client, uint32_t mac, bool down) {
    if (down) {
        gHeld[client].keys.insert(mac);
        return;
    }
    auto it = gHeld.find(client);
    if (it == gHeld.end())
        return;
    it->second.keys.erase(mac);
    if (it->second.empty())
        gHeld.erase(it);
}

bool viewOnly(const rdpShadowClient* client) {
    return gViewOnly.count(client) != 0;
}

void notePoint(double x, double y) {
    gLastX = x;
    gLastY = y;
}

void noteButton(const rdpShadowClient* client, int32_t button, bool down) {
    if (button < 0 || button > 2)
        return;
    if (down) {
        gHeld[client].buttons[button] = true;
        return;
    }
    auto it = gHeld.find(client);
    if (it == gHeld.end())
        return;
    it->second.buttons[button] = false;
    if (it->second.empty())
        gHeld.erase(it);
}

size_t holders() {
    std::lock_guard guard(gLock);
    return gHeld.size();
}

void forget() {
    std::lock_guard guard(gLock);
    gHeld.clear();
    gViewOnly.clear();
}

} // namespace mac_input_held

extern "C" void mac_shadow_input_client_ended(rdpShadowSubsystem* subsystem,
                                              rdpShadowClient* client) {
    if (!subsystem || !client)
        return;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    std::lock_guard guard(gLock);
    gViewOnly.erase(client);
    const std::pair<int, int> released = releaseClient(record, client);
    if (released.first > 0 || released.second > 0)
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_peer_end",
                   "client ended: let go of %d keys and %d mouse buttons it held", released.first,
                   released.second);
}

extern "C" void mac_shadow_input_set_view_only(rdpShadowSubsystem* subsystem,
                                               rdpShadowClient* client, BOOL viewOnly) {
    if (!subsystem || !client)
        return;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    std::lock_guard guard(gLock);
    if (!viewOnly) {
        gViewOnly.erase(client);
        return;
    }
    gViewOnly.insert(client);
    const std::pair<int, int> released = releaseClient(record, client);
    if (released.first > 0 || released.second > 0)
        MAC_INFO("view only: let go of %d keys and %d mouse buttons the client held",
                 released.first, released.second);
}

extern "C" void mac_shadow_input_release_all(macShadowSubsystem* record) {
    if (!record)
        return;
    std::lock_guard guard(gLock);
    for (const auto& [client, held] : gHeld)
        release(record, held);
    gHeld.clear();
    startAfresh(record);
}
