// Keys and text over XTest.
#include "x11_events.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <winpr/input.h>

#include "x11_platform.h"

namespace corvane::platform::x11 {

namespace {

constexpr uint16_t kMacRightControl = 62;
constexpr uint16_t kMacFunction = 63;
constexpr uint32_t kVkRightControlExtended = VK_RCONTROL | KBDEXT;

// Modifier classes in the order of X11Events::synthesized_.
struct ModifierClass {
    uint64_t flag;
    uint16_t leftMac;
    uint16_t rightMac;
};
constexpr std::array<ModifierClass, 4> kModifierClasses{{
    {kFlagShift, 56, 60},
    {kFlagControl, 59, 62},
    {kFlagOption, 58, 61},
    {kFlagCommand, 55, 54},
}};

bool isModifierKey(uint16_t mac) {
    for (const auto& c : kModifierClasses)
        if (mac == c.leftMac || mac == c.rightMac)
            return true;
    return false;
}

} // namespace

uint32_t xKeycodeFromMac(uint16_t macKeyCode) {
    if (macKeyCode == kMacFunction)
        return 0; // X has no Fn key
    DWORD vk = GetVirtualKeyCodeFromKeycode(macKeyCode, WINPR_KEYCODE_TYPE_APPLE);
    // WinPR's Apple table lists the right Windows key for right Control.
    if (macKeyCode == kMacRightControl)
        vk = kVkRightControlExtended;
    if (vk == 0 || vk == VK_NONE)
        return 0;
    return GetKeycodeFromVirtualKeyCode(vk, WINPR_KEYCODE_TYPE_XKB);
}

uint32_t keysymForCodePoint(uint32_t cp) {
    switch (cp) {
    case 0x08:
        return XK_BackSpace;
    case 0x09:
        return XK_Tab;
    case 0x0A:
    case 0x0D:
        return XK_Return;
    case 0x1B:
        return XK_Escape;
    case 0x7F:
        return XK_Delete;
    default:
        break;
    }
    if (cp < 0x20 || (cp >= 0x80 && cp < 0xA0) || cp > 0x10FFFF)
        return 0;
    if (cp < 0x100)
        return cp; // Latin-1 keysyms equal their code points
    return 0x01000000 | cp;
}

uint32_t codePointFromUnits(const char16_t* units, size_t count) {
    if (!units)
        return 0;
    const uint32_t first = units[0];
    const bool high = first >= 0xD800 && first <= 0xDBFF;
    const bool low = first >= 0xDC00 && first <= 0xDFFF;
    if (count == 1)
        return high || low ? 0 : first;
    if (count == 2 && high && units[1] >= 0xDC00 && units[1] <= 0xDFFF)
        return 0x10000 + ((first - 0xD800) << 10) + (units[1] - 0xDC00);
    return 0;
}

X11Events::X11Events(Connection::ClockFn clock)
    : clock_(clock), conn_(clock), prefs_(std::make_unique<X11InputPrefs>()) {}

X11Events::~X11Events() {
    releaseAll();
}

Display* X11Events::ready() {
    Display* d = conn_.get();
    if (!d)
        return nullptr;
    if (generation_ != conn_.generation()) {
        // What was held or borrowed went away with the old X server.
        generation_ = conn_.generation();
        heldKeys_.clear();
        heldButtons_.clear();
        synthesized_ = {};
        spareKeycodes_.clear();
        sparesScanned_ = false;
        borrowed_.clear();
        lastPress_.clear();
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        hasXTest_ = XTestQueryExtension(d, &eventBase, &errorBase, &major, &minor);
    }
    return hasXTest_ ? d : nullptr;
}

void X11Events::fakeKey(Display* d, uint32_t keycode, bool down) {
    XTestFakeKeyEvent(d, keycode, down ? True : False, CurrentTime);
    if (down)
        heldKeys_.insert(keycode);
    else
        heldKeys_.erase(keycode);
}

bool X11Events::shiftHeld() const {
    return heldKeys_.count(xKeycodeFromMac(kModifierClasses[0].leftMac)) ||
           heldKeys_.count(xKeycodeFromMac(kModifierClasses[0].rightMac));
}

// A key event carries its modifiers as flags; X only knows held keys. Press
// the left key of a class the flags want but nobody holds, and let go of
// such a helper key once the flags no longer want it.
void X11Events::syncModifiers(Display* d, uint64_t flags) {
    for (size_t i = 0; i < kModifierClasses.size(); ++i) {
        const auto& c = kModifierClasses[i];
        const uint32_t left = xKeycodeFromMac(c.leftMac);
        const uint32_t right = xKeycodeFromMac(c.rightMac);
        const bool held = heldKeys_.count(left) || heldKeys_.count(right);
        const bool wanted = (flags & c.flag) != 0;
        if (wanted && !held && left) {
            fakeKey(d, left, true);
            synthesized_[i] = left;
        } else if (!wanted && synthesized_[i]) {
            fakeKey(d, synthesized_[i], false);
            synthesized_[i] = 0;
        }
    }
}

bool X11Events::postKey(uint16_t macKeyCode, bool down, uint64_t flags) {
    std::lock_guard lock(conn_.mutex());
    Display* d = ready();
    const uint32_t keycode = xKeycodeFromMac(macKeyCode);
    if (!d || keycode == 0)
        return false;
    if (isModifierKey(macKeyCode)) {
        // The real key replaces a helper press of its class.
        for (size_t i = 0; i < kModifierClasses.size(); ++i)
            if (synthesized_[i] == keycode)
                synthesized_[i] = 0;
    } else {
        syncModifiers(d, flags);
    }
    fakeKey(d, keycode, down);
    XFlush(d);
    return true;
}

// Key code producing the keysym at level 0 or 1 of the current map, or 0.
uint32_t X11Events::keycodeForKeysym(Display* d, uint32_t keysym, bool& needsShift) {
    const KeyCode keycode = XKeysymToKeycode(d, keysym);
    if (keycode == 0)
        return 0;
    if (XkbKeycodeToKeysym(d, keycode, 0, 0) == keysym) {
        needsShift = false;
        return shiftHeld() ? 0 : keycode;
    }
    if (XkbKeycodeToKeysym(d, keycode, 0, 1) == keysym) {
        needsShift = true;
        return keycode;
    }
    return 0; // only behind AltGr or another group: borrow a key instead
}

// The spare for a new character: one without a symbol if there is one,
// else the one typed with longest ago. X clients look a key code up when
// they read the event, so a spare taken over while its character is still
// being read would turn into the new one.
uint32_t X11Events::nextSpare() const {
    uint32_t chosen = 0;
    for (uint32_t code : spareKeycodes_) {
        const auto it = borrowed_.find(code);
        if (it == borrowed_.end())
            return code;
        if (chosen == 0 || it->second < borrowed_.at(chosen))
            chosen = code;
    }
    return chosen;
}

// Gives a key code without symbols the keysym on both levels. A borrowed
// code is not restored at once, so that a client still reading an earlier
// event sees the mapping it was typed with; settle and releaseAll give it
// back.
uint32_t X11Events::borrowSpareKeycode(Display* d, uint32_t keysym) {
    if (!sparesScanned_) {
        sparesScanned_ = true;
        int minCode = 0, maxCode = 0, perCode = 0;
        XDisplayKeycodes(d, &minCode, &maxCode);
        KeySym* map = XGetKeyboardMapping(d, minCode, maxCode - minCode + 1, &perCode);
        if (map) {
            for (int code = maxCode; code >= minCode && spareKeycodes_.size() < kMaxSpareKeycodes;
                 --code) {
                bool empty = true;
                for (int i = 0; i < perCode; ++i)
                    empty = empty && map[(code - minCode) * perCode + i] == NoSymbol;
                if (empty)
                    spareKeycodes_.push_back(static_cast<uint32_t>(code));
            }
            XFree(map);
        }
    }
    if (spareKeycodes_.empty())
        return 0;
    const uint32_t keycode = nextSpare();
    KeySym syms[2] = {keysym, keysym};
    XChangeKeyboardMapping(d, static_cast<int>(keycode), 2, syms, 1);
    syncAndDrain(d);
    borrowed_[keycode] = clock_();
    return keycode;
}

// Spare codes were found without symbols, so giving one back means clearing
// its symbols again.
void X11Events::returnBorrowed(Display* d, bool all) {
    const auto now = clock_();
    bool changed = false;
    for (auto it = borrowed_.begin(); it != borrowed_.end();) {
        if (!all && now - it->second < kBorrowedKeyLifetime) {
            ++it;
            continue;
        }
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(d, static_cast<int>(it->first), 1, &none, 1);
        it = borrowed_.erase(it);
        changed = true;
    }
    if (changed)
        syncAndDrain(d);
}

// This connection only posts, but X announces each keymap change to every
// client, and a sync queues what came before its reply: read and drop them,
// or a long session's typing grows the queue without end.
void X11Events::syncAndDrain(Display* d) {
    XSync(d, False);
    while (XPending(d) > 0) {
        XEvent event;
        XNextEvent(d, &event);
    }
}

int X11Events::unreadEvents() {
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.lost() ? nullptr : ready();
    return d ? XQLength(d) : 0;
}

void X11Events::releaseAll() {
    std::lock_guard lock(conn_.mutex());
    // Only the connection that pressed or borrowed has anything to undo: a
    // lost one is not opened again for it.
    if (conn_.lost() || generation_ == 0)
        return;
    Display* d = ready();
    if (!d)
        return;
    for (int button : std::set<int>(heldButtons_))
        fakeButton(d, button, false);
    for (uint32_t keycode : std::set<uint32_t>(heldKeys_))
        fakeKey(d, keycode, false);
    synthesized_ = {};
    returnBorrowed(d, true);
    syncAndDrain(d);
}

void X11Events::settle() {
    std::lock_guard lock(conn_.mutex());
    if (borrowed_.empty() || conn_.lost())
        return;
    if (Display* d = ready())
        returnBorrowed(d, false);
}

bool X11Events::postUnicode(const char16_t* units, size_t count, bool down) {
    std::lock_guard lock(conn_.mutex());
    Display* d = ready();
    const uint32_t cp = codePointFromUnits(units, count);
    const uint32_t keysym = keysymForCodePoint(cp);
    if (!d || keysym == 0)
        return false;
    // Text carries no key identity: a release may even name another
    // character than its press (the client looks it up again after Shift
    // went up). Holding a key from press to release could leave it stuck,
    // so the press types the character whole and the release does nothing.
    if (!down)
        return true;
    bool needsShift = false;
    uint32_t keycode = keycodeForKeysym(d, keysym, needsShift);
    if (keycode == 0) {
        needsShift = false;
        keycode = borrowSpareKeycode(d, keysym);
    }
    if (keycode == 0)
        return false;
    if (auto it = borrowed_.find(keycode); it != borrowed_.end())
        it->second = clock_(); // typed again: keep it a while longer
    const uint32_t shift = xKeycodeFromMac(kModifierClasses[0].leftMac);
    const bool addShift = needsShift && !shiftHeld();
    if (addShift)
        fakeKey(d, shift, true);
    fakeKey(d, keycode, true);
    fakeKey(d, keycode, false);
    if (addShift)
        fakeKey(d, shift, false);
    XFlush(d);
    return true;
}

} // namespace corvane::platform::x11
