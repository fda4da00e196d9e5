// The X11 event poster on a private Xvfb: what it leaves behind (pressed
// keys and buttons, borrowed key codes) and a display server that restarts.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "platform/x11/x11_events.h"
#include "xvfb_fixture.h"

using corvane::platform::Backoff;
using corvane::platform::MouseEventType;
using corvane::platform::x11::kBorrowedKeyLifetime;
using corvane::platform::x11::kMaxSpareKeycodes;
using corvane::platform::x11::X11Events;
using namespace std::chrono_literals;

namespace {

constexpr uint16_t kMacShift = 56;
constexpr unsigned kShiftKeycode = 50;

class X11EventsTest : public corvane::platform::x11::testing::XvfbTest {
  protected:
    void SetUp() override { startXvfb("640x480x24"); }
    std::vector<KeySym> keymap() {
        int minCode = 0, maxCode = 0, perCode = 0;
        XDisplayKeycodes(d_, &minCode, &maxCode);
        KeySym* map = XGetKeyboardMapping(d_, minCode, maxCode - minCode + 1, &perCode);
        std::vector<KeySym> out(map, map + (maxCode - minCode + 1) * perCode);
        XFree(map);
        return out;
    }
    // Posting only flushes: what another connection sees may lag a moment.
    static bool soon(const std::function<bool()>& condition) {
        return e2e::waitUntil(condition, 1s, 10ms);
    }
    bool keyDown(unsigned keycode) {
        char keys[32] = {};
        XQueryKeymap(d_, keys);
        return (keys[keycode / 8] >> (keycode % 8)) & 1;
    }
    unsigned buttonMask() {
        Window root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        XQueryPointer(d_, DefaultRootWindow(d_), &root, &child, &rx, &ry, &wx, &wy, &mask);
        return mask & (Button1Mask | Button2Mask | Button3Mask);
    }

    Backoff::Clock::time_point now_{};
};

const char16_t kGrin[] = {0xD83D, 0xDE00}; // on no key of any layout

} // namespace

TEST_F(X11EventsTest, BorrowedKeyCodesGoBackOnceUnusedAndAtReleaseAll) {
    X11Events events([this] { return now_; });
    const std::vector<KeySym> before = keymap();
    ASSERT_TRUE(events.postUnicode(kGrin, 2, true));
    EXPECT_NE(keymap(), before) << "a spare key code carries the character";
    now_ += kBorrowedKeyLifetime - 1ms;
    events.settle();
    EXPECT_NE(keymap(), before) << "a late reader still finds the character";
    now_ += 1ms;
    events.settle();
    EXPECT_EQ(keymap(), before);

    ASSERT_TRUE(events.postUnicode(kGrin, 2, true));
    events.releaseAll();
    EXPECT_EQ(keymap(), before);
    EXPECT_EQ(events.unreadEvents(), 0) << "the keymap notices of a session pile up";
}

// One more character than there are spare key codes, after the first was
// typed again: the newest takes the code of the one typed longest ago, and
// the recent ones keep theirs for a client still reading them.
TEST_F(X11EventsTest, ANewCharacterTakesTheKeyCodeTypedLongestAgo) {
    X11Events events([this] { return now_; });
    auto onAKey = [&](char16_t c) {
        const std::vector<KeySym> map = keymap();
        return std::find(map.begin(), map.end(), KeySym(0x01000000 | c)) != map.end();
    };
    auto type = [&](char16_t c) {
        now_ += 1ms;
        return events.postUnicode(&c, 1, true);
    };
    const char16_t first = 0x03B1; // Greek letters: on no key of the layout
    const char16_t second = first + 1;
    const auto newest = static_cast<char16_t>(first + kMaxSpareKeycodes);
    for (char16_t c = first; c < newest; ++c)
        ASSERT_TRUE(type(c));
    ASSERT_TRUE(type(first));
    ASSERT_TRUE(type(newest));
    EXPECT_TRUE(onAKey(newest));
    EXPECT_TRUE(onAKey(first)) << "typed again just now";
    EXPECT_FALSE(onAKey(second)) << "typed longest ago";
    for (char16_t c = second + 1; c < newest; ++c)
        EXPECT_TRUE(onAKey(c));
}

TEST_F(X11EventsTest, ReleaseAllLetsGoOfKeysAndButtons) {
    X11Events events([this] { return now_; });
    ASSERT_TRUE(events.postKey(kMacShift, true, 0));
    ASSERT_TRUE(events.postMouse(MouseEventType::RightDown, {10, 10}, 1, 1));
    EXPECT_TRUE(soon([&] { return keyDown(kShiftKeycode); }));
    EXPECT_TRUE(soon([&] { return buttonMask() == unsigned(Button3Mask); }))
        << "the right button is X's button 3";
    events.releaseAll();
    EXPECT_FALSE(keyDown(kShiftKeycode));
    EXPECT_EQ(buttonMask(), 0u);
}

// The X server dies and a new one comes up on the same display: posting
// works again once a retry is due, and nothing the old server had pressed
// is carried over.
TEST_F(X11EventsTest, PostingResumesOnARestartedServer) {
    X11Events events([this] { return now_; });
    ASSERT_TRUE(events.postKey(kMacShift, true, 0));
    XCloseDisplay(d_);
    d_ = nullptr;
    ASSERT_TRUE(xvfb_->restart());
    ASSERT_NE(d_ = XOpenDisplay(xvfb_->name().c_str()), nullptr);
    // The first post finds the connection broken; the next ones wait for
    // the retry.
    events.postKey(kMacShift, false, 0);
    EXPECT_FALSE(events.postKey(kMacShift, true, 0));
    now_ += 10s;
    ASSERT_TRUE(events.postKey(kMacShift, true, 0));
    EXPECT_TRUE(soon([&] { return keyDown(kShiftKeycode); }));
    events.releaseAll();
    EXPECT_FALSE(keyDown(kShiftKeycode));
}
