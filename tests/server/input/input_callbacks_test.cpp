// The input callbacks over the sim platform: what reaches the event poster.
#include <cstdlib>

#include "input_fixture.h"
#include "server/shadow/Mac/core/lifecycle.h"
#include "server/shadow/Mac/core/terminate.h"
#include "server/shadow/Mac/input/input.h"
#include "server/shadow/Mac/input/input_held.h"

using corvane::platform::kFlagCommand;
using corvane::platform::kFlagControl;
using corvane::platform::kFlagShift;
using corvane::platform::MouseEventType;
using corvane::platform::sim::PostedEvent;
using input_test::gNow;

namespace {

constexpr uint16_t kExt = 0x0100, kRelease = 0x8000;
constexpr uint16_t kMove = 0x0800, kLeft = 0x1000, kRight = 0x2000, kDown = 0x8000;

class InputCallbacks : public input_test::SimRecordTest {
  protected:
    void SetUp() override {
        SimRecordTest::SetUp();
        unsetenv("MAC_SHADOW_CTRL_AS_CMD");
        mac_shadow_input_reset_process_state();
    }
    void TearDown() override {
        unsetenv("MAC_SHADOW_CTRL_AS_CMD");
        mac_shadow_input_reset_process_state();
        SimRecordTest::TearDown();
    }
    void key(uint16_t flags, uint8_t code) {
        ASSERT_TRUE(mac_shadow_input_keyboard_event(subsystem(), client(), flags, code));
    }
    void unicode(uint16_t flags, uint16_t code) {
        ASSERT_TRUE(mac_shadow_input_unicode_keyboard_event(subsystem(), client(), flags, code));
    }
    void mouse(uint16_t flags, uint16_t x, uint16_t y) {
        ASSERT_TRUE(mac_shadow_input_mouse_event(subsystem(), client(), flags, x, y));
    }
    std::vector<int64_t> downClickStates() {
        std::vector<int64_t> states;
        for (const PostedEvent& e : posted())
            if (e.kind == PostedEvent::Kind::Mouse && e.mouseType == MouseEventType::LeftDown)
                states.push_back(e.clickState);
        return states;
    }
};

} // namespace

// Right Control is posted as right Command unless MAC_SHADOW_CTRL_AS_CMD is
// 0, and the variable is read once, at the first key.
TEST_F(InputCallbacks, RightControlArrivesAsRightCommandUnlessTurnedOff) {
    key(kExt, 0x1D);
    setenv("MAC_SHADOW_CTRL_AS_CMD", "0", 1);
    key(kExt | kRelease, 0x1D);
    auto events = posted();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].keyCode, 54);
    EXPECT_EQ(events[0].flags, kFlagCommand);
    EXPECT_EQ(events[1].keyCode, 54) << "read once for the process";
    EXPECT_EQ(record_->modifierState, 0u);

    mac_shadow_input_reset_process_state();
    sim_->simEvents().clear();
    key(kExt, 0x1D);
    key(0, 0x2E); // C
    events = posted();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].keyCode, 62);
    EXPECT_EQ(record_->modifierState, 0x100u);
    EXPECT_EQ(events[1].keyCode, 8);
    EXPECT_EQ(events[1].flags, kFlagControl);
}

TEST_F(InputCallbacks, ShiftedLetterCarriesTheShiftFlagUntilReleased) {
    key(0, 0x2A);        // Shift down
    key(0, 0x1E);        // A down
    key(kRelease, 0x1E); // A up
    key(kRelease, 0x2A); // Shift up
    key(0, 0x1E);
    auto events = posted();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[1].keyCode, 0);
    EXPECT_EQ(events[1].flags, kFlagShift);
    EXPECT_EQ(events[2].flags, kFlagShift);
    EXPECT_EQ(events[3].flags, 0u);
    EXPECT_EQ(events[4].flags, 0u);
}

// Input that posts nothing: an unmapped key (still input), extended mouse
// events (not input), and events without a client (refused after marking
// input).
TEST_F(InputCallbacks, UnpostableInputIsDroppedOrRefused) {
    EXPECT_TRUE(mac_shadow_input_extended_mouse_event(subsystem(), client(), 0x8001, 3, 4));
    EXPECT_FALSE(record_->inputSeen);
    key(0, 0x73);
    EXPECT_TRUE(record_->inputSeen);
    record_->inputSeen = false;
    EXPECT_FALSE(mac_shadow_input_keyboard_event(subsystem(), nullptr, 0, 0x1E));
    EXPECT_TRUE(record_->inputSeen);
    EXPECT_FALSE(mac_shadow_input_keyboard_event(nullptr, client(), 0, 0x1E));
    EXPECT_FALSE(mac_shadow_input_mouse_event(subsystem(), nullptr, kMove, 1, 1));
    EXPECT_FALSE(mac_shadow_input_unicode_keyboard_event(subsystem(), nullptr, 0, 'x'));
    EXPECT_TRUE(posted().empty());
}

TEST_F(InputCallbacks, EmojiSurrogatesPostOneDownAndOneUp) {
    unicode(0, 0xD83D);
    unicode(0, 0xDE00);
    unicode(kRelease, 0xD83D);
    unicode(kRelease, 0xDE00);
    auto events = posted();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].text, std::u16string(u"\U0001F600"));
    EXPECT_TRUE(events[0].down);
    EXPECT_EQ(events[1].text, std::u16string(u"\U0001F600"));
    EXPECT_FALSE(events[1].down);
    EXPECT_TRUE(record_->inputSeen);
    // The pending half was used up: a lone low half now posts nothing.
    unicode(0, 0xDE00);
    EXPECT_EQ(posted().size(), 2u);
}

// How rotation becomes lines is WheelLines' (input_logic_test.cpp).
TEST_F(InputCallbacks, WheelScrollsAndDoesNothingElse) {
    mouse(0x0200 | 0x0178, 5, 5);
    mouse(0x0400 | 120, 5, 5); // horizontal: not a vertical wheel event
    auto events = posted();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, PostedEvent::Kind::Scroll);
    EXPECT_EQ(events[0].verticalLines, -3);
    EXPECT_EQ(events[0].horizontalLines, 0);
}

TEST_F(InputCallbacks, PositionsGoThroughTheMappings) {
    addMapping(0, 0, 1000, 800, 0, 0, 1.0);
    addMapping(1000, 0, 600, 800, 1000, 0, 0.5);
    mouse(kMove, 1100, 40);
    mouse(kMove, 1900, 40); // right of the last monitor
    auto events = posted();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].mouseType, MouseEventType::Moved);
    EXPECT_DOUBLE_EQ(events[0].at.x, 1050);
    EXPECT_DOUBLE_EQ(events[0].at.y, 20);
    EXPECT_DOUBLE_EQ(events[1].at.x, 1000 + 0.5 * 599);
}

TEST_F(InputCallbacks, MoveWithAHeldButtonIsADragAndPrecedesTheButton) {
    mouse(kLeft | kDown, 10, 10);
    mouse(kMove, 20, 20);
    mouse(kMove | kLeft, 30, 30); // release with a move
    mouse(kMove, 40, 40);
    auto events = posted();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].mouseType, MouseEventType::LeftDown);
    EXPECT_EQ(events[1].mouseType, MouseEventType::LeftDragged);
    EXPECT_EQ(events[2].mouseType, MouseEventType::LeftDragged);
    EXPECT_EQ(events[3].mouseType, MouseEventType::LeftUp);
    EXPECT_DOUBLE_EQ(events[3].at.x, 30);
    EXPECT_EQ(events[4].mouseType, MouseEventType::Moved);
    EXPECT_FALSE(record_->leftHeld);
}

// A second click in time carries click state 2 on its down and up; with a
// shorter system interval the same clicks stay single.
TEST_F(InputCallbacks, DoubleClickFollowsTheSystemInterval) {
    for (const double interval : {0.5, 0.2}) {
        sim_->simInputPrefs().setDoubleClickSeconds(interval);
        sim_->simEvents().clear();
        gNow += 10000;
        mouse(kLeft | kDown, 50, 50);
        mouse(kLeft, 50, 50);
        gNow += 300;
        mouse(kLeft | kDown, 51, 50);
        mouse(kLeft, 51, 50);
        const int64_t second = interval > 0.3 ? 2 : 1;
        EXPECT_EQ(downClickStates(), (std::vector<int64_t>{1, second})) << interval;
        const auto events = posted();
        ASSERT_EQ(events.size(), 4u);
        EXPECT_EQ(events[3].mouseType, MouseEventType::LeftUp);
        EXPECT_EQ(events[3].clickState, second);
    }
}

// Whatever a client holds goes up when it ends, however it ends (the peer
// end runs for each); another client's keys stay down until it ends too,
// and only then does the input state start afresh.
TEST_F(InputCallbacks, ClientEndLetsGoOfWhatItHeldAndTheLastEndStartsAfresh) {
    mac_shadow_fill_callbacks(record_);
    rdpShadowClient first{}, second{};
    auto keyOf = [&](rdpShadowClient& c, uint16_t flags, uint8_t code) {
        ASSERT_TRUE(mac_shadow_input_keyboard_event(subsystem(), &c, flags, code));
    };
    keyOf(first, 0, 0x1D); // Ctrl, posted as Command
    keyOf(first, 0, 0x2E); // c
    ASSERT_TRUE(mac_shadow_input_mouse_event(subsystem(), &first, kLeft | kDown, 10, 20));
    keyOf(second, 0, 0x2A); // Shift
    gNow += 100;
    ASSERT_TRUE(mac_shadow_input_mouse_event(subsystem(), &second, kRight | kDown, 30, 40));
    ASSERT_TRUE(mac_shadow_input_mouse_event(subsystem(), &second, kRight, 30, 40));
    sim_->simEvents().clear();

    record_->common.PeerEnd(subsystem(), &first);
    auto events = posted();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].keyCode, 8) << "the letter first, still with Command";
    EXPECT_FALSE(events[0].down);
    EXPECT_EQ(events[0].flags, kFlagCommand | kFlagShift);
    EXPECT_EQ(events[1].keyCode, 55);
    EXPECT_FALSE(events[1].down);
    EXPECT_EQ(events[1].flags, kFlagShift) << "the other client's Shift stays down";
    EXPECT_EQ(events[2].mouseType, MouseEventType::LeftUp);
    EXPECT_EQ(events[2].at, (corvane::platform::PointF{30, 40})) << "where the pointer is";
    EXPECT_FALSE(record_->leftHeld);
    EXPECT_EQ(record_->modifierState, 1u << 2) << "Shift only";
    EXPECT_EQ(sim_->simEvents().releaseAllCount(), 0) << "someone still holds a key";
    EXPECT_EQ(record_->clickCount, 1);

    sim_->simEvents().clear();
    unicode(0, 0xD83D); // a pending high surrogate of the second client
    record_->common.PeerEnd(subsystem(), &second);
    events = posted();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].keyCode, 56);
    EXPECT_FALSE(events[0].down);
    EXPECT_EQ(record_->modifierState, 0u);
    EXPECT_EQ(record_->clickCount, 0) << "click counting starts afresh";
    EXPECT_EQ(record_->lastClickTick, 0u);
    EXPECT_EQ(sim_->simEvents().releaseAllCount(), 1);
    EXPECT_EQ(mac_input_held::holders(), 0u);

    // The next session's first key carries no flag of the old ones, and a
    // low surrogate finds no high one waiting.
    sim_->simEvents().clear();
    key(0, 0x2E);
    unicode(0, 0xDE00);
    events = posted();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].flags, 0u);
}

TEST_F(InputCallbacks, TeardownLetsGoOfEveryClientsKeys) {
    rdpShadowClient first{}, second{};
    ASSERT_TRUE(mac_shadow_input_keyboard_event(subsystem(), &first, 0, 0x38)); // Option
    ASSERT_TRUE(mac_shadow_input_mouse_event(subsystem(), &second, kRight | kDown, 5, 5));
    sim_->simEvents().clear();
    mac_shadow_input_release_all(record_);
    const auto events = posted();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].keyCode, 58);
    EXPECT_FALSE(events[0].down);
    EXPECT_EQ(events[1].mouseType, MouseEventType::RightUp);
    EXPECT_EQ(record_->modifierState, 0u);
    EXPECT_FALSE(record_->rightHeld);
    EXPECT_EQ(sim_->simEvents().releaseAllCount(), 1);
}
