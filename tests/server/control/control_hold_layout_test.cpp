// A client held for the host's answer changes nothing of the desktop's size
// or layout, through the record's own slots (the connect step, the
// display-control layouts, the step the extension layer runs at release):
// the answer decides whether its size is ever taken.
#include <string>

#include <freerdp/settings.h>

#include <nlohmann/json.hpp>

#include "server/core/core_fixture.h"
#include "server/shadow/Mac/control/control_sessions.h"

namespace {

void noEvents(const std::string&, bool) {}
BOOL accept(rdpShadowClient*) {
    return TRUE;
}
const mac_control::HoldPort kPort = {accept, accept, accept};

class ControlHoldLayout : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        startAsking();
        // Nothing applies plans here: the connect step stops waiting at once.
        record()->appliedSerial = 1000000;
    }
    void TearDown() override {
        for (rdpShadowClient* c : connected_)
            mac_control::clientEnded(c);
        mac_control::resetForTests();
        CoreTest::TearDown();
    }
    // Also forgets earlier clients, so that none comes back from a drop.
    void startAsking() {
        mac_control::resetForTests();
        mac_control::setEventSinkForTests(noEvents);
        mac_control::setHoldPortForTests(&kPort);
        mac_control::AskSettings ask;
        ask.mode = MAC_ASK_ASK;
        ask.timeoutSeconds = 30;
        mac_control::setAskSettingsForTests(ask);
        record()->resizePending = false;
        record()->lastClientPlanValid = false;
    }
    rdpShadowSubsystem* base() { return &record()->common.base; }
    rdpShadowClient* connect(uint32_t width, uint32_t height) {
        rdpShadowClient* c = addClient(false);
        freerdp_settings_set_uint32(c->context.settings, FreeRDP_DesktopWidth, width);
        freerdp_settings_set_uint32(c->context.settings, FreeRDP_DesktopHeight, height);
        freerdp_settings_set_string(c->context.settings, FreeRDP_Username, "alice");
        c->server = server();
        connected_.push_back(c);
        EXPECT_TRUE(base()->ClientConnect(base(), c));
        return c;
    }
    void askLayout(rdpShadowClient* c, uint32_t width, uint32_t height) {
        DISPLAY_CONTROL_MONITOR_LAYOUT one = {};
        one.Flags = DISPLAY_CONTROL_MONITOR_PRIMARY;
        one.Width = width;
        one.Height = height;
        one.DesktopScaleFactor = one.DeviceScaleFactor = 100;
        EXPECT_TRUE(record()->common.DisplayLayout(base(), c, 1, &one));
    }
    std::string request(const std::string& type, uint64_t id, const std::string& rest) {
        const std::string line =
            R"({"v":1,"type":")" + type + R"(","id":)" + std::to_string(id) + rest + "}";
        return nlohmann::json::parse(mac_control::handleLine(line))["type"];
    }
    // The size the desktop was last asked to take; 0 x 0 when nothing asked.
    std::pair<uint32_t, uint32_t> asked() {
        if (!record()->resizePending)
            return {0, 0};
        return {record()->pendingPlan.totalWidth, record()->pendingPlan.totalHeight};
    }

    std::vector<rdpShadowClient*> connected_;
};

TEST_F(ControlHoldLayout, OnlyAClientLetInWithControlResizesTheDesktop) {
    struct Case {
        const char* answer; // nullptr: the countdown ends
        std::pair<uint32_t, uint32_t> afterAnswer;
    };
    const std::pair<uint32_t, uint32_t> none{0, 0};
    for (const Case& c : {Case{"allow", {1024, 768}}, Case{"view-only", none}, Case{"refuse", none},
                          Case{nullptr, none}}) {
        SCOPED_TRACE(c.answer ? c.answer : "timeout");
        startAsking();
        rdpShadowClient* client = connect(1024, 768);
        const uint64_t id = mac_control::sessionIdOf(client);
        ASSERT_TRUE(mac_control::heldNow(id));
        EXPECT_EQ(asked(), none) << "the connect size of a held client";
        askLayout(client, 1600, 1000);
        EXPECT_EQ(asked(), none) << "a display-control layout of a held client";

        if (c.answer)
            ASSERT_EQ(request("answer", id, R"(,"answer":")" + std::string(c.answer) + "\""), "ok");
        else
            mac_control::tick(record(), now() + 30000);
        ASSERT_FALSE(mac_control::heldNow(id));
        // The extension layer runs this on a released client's thread only;
        // for the others it shows that nothing waits to be applied late.
        record()->common.ClientReleased(base(), client);
        EXPECT_EQ(asked(), c.afterAnswer);
        record()->resizePending = false;
        askLayout(client, 1280, 1024);
        EXPECT_EQ(asked(), c.afterAnswer == none ? none : std::make_pair(1280u, 1024u))
            << "its display-control layouts from then on";
        removeClients();
        connected_.clear();
    }
}

TEST_F(ControlHoldLayout, AViewOnlyClientResizesOnlyOnceGivenControl) {
    rdpShadowClient* client = connect(1024, 768);
    const uint64_t id = mac_control::sessionIdOf(client);
    ASSERT_EQ(request("answer", id, R"(,"answer":"view-only")"), "ok");
    record()->common.ClientReleased(base(), client);
    askLayout(client, 1600, 1000);
    EXPECT_FALSE(record()->resizePending);
    ASSERT_EQ(request("set-mode", id, R"(,"mode":"control")"), "ok");
    askLayout(client, 1600, 1000);
    ASSERT_TRUE(record()->resizePending);
    EXPECT_EQ(record()->pendingPlan.totalWidth, 1600u);
    record()->resizePending = false;
    ASSERT_EQ(request("set-mode", id, R"(,"mode":"view")"), "ok");
    askLayout(client, 1280, 1024);
    EXPECT_FALSE(record()->resizePending);
}

TEST_F(ControlHoldLayout, WithoutAskingTheConnectSizeIsTakenAtOnce) {
    mac_control::AskSettings letIn;
    letIn.mode = MAC_ASK_ALLOW;
    mac_control::setAskSettingsForTests(letIn);
    connect(1024, 768);
    EXPECT_EQ(asked(), std::make_pair(1024u, 768u));
}

} // namespace
