// A client's mode as the application sets it over the channel: what reaches
// the desktop, what is let go at the switch, and requests that change nothing.
#include <freerdp/settings.h>

#include <nlohmann/json.hpp>

#include "server/input/input_fixture.h"
#include "server/shadow/Mac/control/control_sessions.h"
#include "server/shadow/Mac/input/input.h"
#include "server/shadow/Mac/input/input_held.h"

using corvane::platform::sim::PostedEvent;

namespace {

std::vector<std::string> gEvents;
void sink(const std::string& line, bool) {
    gEvents.push_back(line);
}

class ControlMode : public input_test::SimRecordTest {
  protected:
    void SetUp() override {
        SimRecordTest::SetUp();
        mac_shadow_input_reset_process_state();
        mac_control::resetForTests();
        mac_control::setEventSinkForTests(sink);
        gEvents.clear();
        for (auto* c : {&viewer_, &other_}) {
            c->context.settings = freerdp_settings_new(0);
            mac_control::clientConnecting(record_, c, 0);
        }
        viewerId_ = mac_control::sessionIdOf(&viewer_);
    }
    void TearDown() override {
        for (auto* c : {&viewer_, &other_}) {
            mac_shadow_input_client_ended(subsystem(), c);
            mac_control::clientEnded(c);
            freerdp_settings_free(c->context.settings);
        }
        mac_control::setEventSinkForTests(nullptr);
        mac_control::resetForTests();
        mac_shadow_input_reset_process_state();
        SimRecordTest::TearDown();
    }
    std::string request(const std::string& type, uint64_t id, const std::string& extra = "") {
        const std::string line = R"({"v":1,"type":")" + type + R"(","id":)" +
                                 std::to_string(id) + extra + "}";
        return nlohmann::json::parse(mac_control::handleLine(line))["type"];
    }
    size_t postedBy(std::function<void()> input) {
        sim_->simEvents().clear();
        input();
        return posted().size();
    }

    rdpShadowClient viewer_{}, other_{};
    uint64_t viewerId_ = 0;
};

} // namespace

TEST_F(ControlMode, ViewOnlyLetsGoOfHeldInputAndBlocksTheClientAlone) {
    ASSERT_NE(viewerId_, 0u);
    ASSERT_TRUE(mac_shadow_input_keyboard_event(subsystem(), &viewer_, 0, 0x2A)); // Shift down
    ASSERT_TRUE(mac_shadow_input_mouse_event(subsystem(), &viewer_, 0x1000 | 0x8000, 5, 5));
    sim_->simEvents().clear();

    EXPECT_EQ(request("set-mode", viewerId_, R"(,"mode":"view")"), "ok");
    const auto released = posted();
    ASSERT_GE(released.size(), 2u) << "Shift and the left button go up at the switch";
    for (const PostedEvent& e : released)
        EXPECT_FALSE(e.kind == PostedEvent::Kind::Key && e.down);
    EXPECT_EQ(mac_input_held::holders(), 0u);
    mac_control::ClientMode mode{};
    ASSERT_TRUE(mac_control::modeOf(viewerId_, &mode));
    EXPECT_EQ(mode, mac_control::ClientMode::View);

    // Keys, text, clicks, moves and the wheel of the viewer reach nothing; the
    // other client's do.
    EXPECT_EQ(postedBy([&] {
                  mac_shadow_input_keyboard_event(subsystem(), &viewer_, 0, 0x1E);
                  mac_shadow_input_unicode_keyboard_event(subsystem(), &viewer_, 0, 'a');
                  mac_shadow_input_mouse_event(subsystem(), &viewer_, 0x0800 | 0x1000 | 0x8000, 9, 9);
                  mac_shadow_input_mouse_event(subsystem(), &viewer_, 0x0200 | 0x0078, 9, 9);
              }),
              0u);
    EXPECT_EQ(postedBy([&] { mac_shadow_input_keyboard_event(subsystem(), &other_, 0, 0x1E); }), 1u);

    EXPECT_EQ(request("set-mode", viewerId_, R"(,"mode":"control")"), "ok");
    EXPECT_EQ(postedBy([&] { mac_shadow_input_keyboard_event(subsystem(), &viewer_, 0, 0x1E); }), 1u);
    EXPECT_EQ(gEvents.size(), 4u) << "two connecting events and two mode events";
}

TEST_F(ControlMode, RequestsThatCannotApplyChangeNothing) {
    const size_t before = gEvents.size();
    EXPECT_EQ(request("set-mode", 999, R"(,"mode":"view")"), "error") << "unknown client";
    EXPECT_EQ(request("disconnect", 999), "error");
    EXPECT_EQ(nlohmann::json::parse(mac_control::handleLine("{broken"))["type"], "error");
    mac_control::ClientMode mode{};
    ASSERT_TRUE(mac_control::modeOf(viewerId_, &mode));
    EXPECT_EQ(mode, mac_control::ClientMode::Control);
    EXPECT_EQ(gEvents.size(), before);
    EXPECT_EQ(postedBy([&] { mac_shadow_input_keyboard_event(subsystem(), &viewer_, 0, 0x1E); }), 1u);

    mac_control::clientEnded(&viewer_);
    ASSERT_FALSE(gEvents.empty());
    EXPECT_EQ(nlohmann::json::parse(gEvents.back())["type"], "client-left");
    EXPECT_EQ(request("set-mode", viewerId_, R"(,"mode":"view")"), "error") << "it has left";
}
