// Asking the host before a client gets the desktop, over the control
// channel's seams: the hold, each answer (and whether the client may size the
// desktop after it), the countdown on an injected clock, nobody at the
// desktop, several clients, no reader, a client that leaves while held, the
// reconnect grace and the lock when the last leaves.
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include <unistd.h>

#include <freerdp/settings.h>

#include <nlohmann/json.hpp>

#include "mac_logic.h"
#include "server/core/core_fixture.h"
#include "server/shadow/Mac/control/control_sessions.h"
#include "server/shadow/Mac/input/input.h"
#include "server/shadow/Mac/input/input_held.h"
#include "server/shadow/Mac/logins/connection_log.h"

using nlohmann::json;

namespace {

std::vector<json> gEvents;
void sink(const std::string& line, bool) {
    gEvents.push_back(json::parse(line));
}

// What the stand-in for the extension layer was asked to do.
std::vector<const rdpShadowClient*> gHeld, gReleased, gClosed;
const mac_control::HoldPort kPort = {
    [](rdpShadowClient* c) -> BOOL { return gHeld.push_back(c), TRUE; },
    [](rdpShadowClient* c) -> BOOL { return gReleased.push_back(c), TRUE; },
    [](rdpShadowClient* c) -> BOOL { return gClosed.push_back(c), TRUE; }};
void clearSeen() {
    gEvents.clear(), gHeld.clear(), gReleased.clear(), gClosed.clear();
}

class ControlHold : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        mac_shadow_input_reset_process_state();
        mac_control::resetForTests();
        mac_control::setEventSinkForTests(sink);
        mac_control::setHoldPortForTests(&kPort);
        // Nothing applies plans here: the connect step stops waiting at once.
        record()->appliedSerial = 1000000;
        clearSeen();
        // Its own file: ctest runs the cases of this suite side by side.
        logPath_ = testing::TempDir() + "control_hold_" +
                   testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                   std::to_string(getpid()) + ".jsonl";
        std::remove(logPath_.c_str());
        mac_connection_log_set_path(logPath_.c_str());
        ask(MAC_ASK_ASK);
    }
    void TearDown() override {
        for (rdpShadowClient* c : clients_)
            leave(c);
        mac_connection_log_set_path(nullptr);
        std::remove(logPath_.c_str());
        mac_control::resetForTests();
        mac_shadow_input_reset_process_state();
        CoreTest::TearDown();
    }
    void ask(int32_t mode, int32_t lock = MAC_LOCK_OFF) {
        mac_control::AskSettings s;
        s.mode = mode;
        s.timeoutSeconds = 30;
        s.awayIdleSeconds = 300;
        s.lockOnLeave = lock;
        mac_control::setAskSettingsForTests(s);
    }
    void presence(bool locked, uint64_t idleMs) {
        corvane::platform::PresenceReading r;
        r.lockedKnown = r.idleKnown = true;
        r.locked = locked;
        r.idleMs = idleMs;
        sim().simPresence().set(r);
    }
    rdpShadowSubsystem* base() { return &record()->common.base; }
    // Through the record's connect step when the client asks for a size.
    rdpShadowClient* connect(const char* account = "alice", uint32_t width = 0,
                             uint32_t height = 0) {
        rdpShadowClient* c = addClient(false);
        clients_.push_back(c);
        freerdp_settings_set_string(c->context.settings, FreeRDP_Username, account);
        if (!width) {
            mac_control::clientConnecting(record(), c, now());
            return c;
        }
        freerdp_settings_set_uint32(c->context.settings, FreeRDP_DesktopWidth, width);
        freerdp_settings_set_uint32(c->context.settings, FreeRDP_DesktopHeight, height);
        c->server = server();
        EXPECT_TRUE(base()->ClientConnect(base(), c));
        return c;
    }
    void leave(rdpShadowClient* c) {
        mac_shadow_input_client_ended(base(), c);
        mac_control::clientEnded(c);
    }
    void askLayout(rdpShadowClient* c, uint32_t width, uint32_t height) {
        DISPLAY_CONTROL_MONITOR_LAYOUT one = {};
        one.Flags = DISPLAY_CONTROL_MONITOR_PRIMARY;
        one.Width = width;
        one.Height = height;
        one.DesktopScaleFactor = one.DeviceScaleFactor = 100;
        EXPECT_TRUE(record()->common.DisplayLayout(base(), c, 1, &one));
    }
    // The size the desktop was last asked to take; 0 x 0 when nothing asked.
    std::pair<uint32_t, uint32_t> asked() {
        if (!record()->resizePending)
            return {0, 0};
        return {record()->pendingPlan.totalWidth, record()->pendingPlan.totalHeight};
    }
    uint64_t id(const rdpShadowClient* c) { return mac_control::sessionIdOf(c); }
    // The application's request of `type` about a client, with one more field.
    json request(const char* type, uint64_t client, const char* field = nullptr,
                 const char* value = nullptr) {
        return json::parse(mac_control::handleLine(
            R"({"v":1,"type":")" + std::string(type) + R"(","id":)" + std::to_string(client) +
            (field ? R"(,")" + std::string(field) + R"(":")" + value + "\"" : "") + "}"));
    }
    json answer(uint64_t client, const char* what) {
        return request("answer", client, "answer", what);
    }
    std::vector<json> eventsOf(const char* type) {
        std::vector<json> out;
        for (const json& e : gEvents)
            if (e["type"] == type)
                out.push_back(e);
        return out;
    }
    // Whether a key from the client reaches the desktop.
    bool reaches(rdpShadowClient* c) {
        sim().simEvents().clear();
        mac_shadow_input_keyboard_event(base(), c, 0, 0x1E);
        mac_shadow_input_keyboard_event(base(), c, 0x8000, 0x1E);
        return !sim().simEvents().posted().empty();
    }
    std::vector<json> logLines() {
        std::vector<json> out;
        std::ifstream in(logPath_);
        for (std::string line; std::getline(in, line);)
            out.push_back(json::parse(line));
        return out;
    }
    mac_control::ClientMode mode(rdpShadowClient* c) {
        mac_control::ClientMode m{};
        EXPECT_TRUE(mac_control::modeOf(id(c), &m));
        return m;
    }

    std::vector<rdpShadowClient*> clients_;
    std::string logPath_;
};

// The host's answers, and the countdown on the injected clock, which
// refuses. A held client changes nothing of the desktop's size (its connect
// size, its display-control layouts); once let in with control its size is
// taken at the release and its layouts from then on.
TEST_F(ControlHold, EachAnswerEndsTheHoldItsOwnWay) {
    struct Case {
        const char* answer;
        const char* by;
        bool released;
        bool input;
        mac_control::ClientMode mode;
        bool sizes;
    };
    using enum mac_control::ClientMode;
    const std::pair<uint32_t, uint32_t> none{0, 0};
    for (const Case& c : {Case{"allow", "host", true, true, Control, true},
                          Case{"view-only", "host", true, false, View, false},
                          Case{"refuse", "host", false, false, Control, false},
                          Case{"refuse", "timeout", false, false, Control, false}}) {
        SCOPED_TRACE(std::string(c.answer) + " by " + c.by);
        clearSeen();
        record()->resizePending = false;
        record()->lastClientPlanValid = false;
        rdpShadowClient* client = connect("alice", 1024, 768);
        ASSERT_TRUE(mac_control::heldNow(id(client)));
        ASSERT_EQ(gHeld.back(), client);
        const auto prompts = eventsOf("prompt");
        ASSERT_EQ(prompts.size(), 1u);
        EXPECT_EQ(prompts[0]["id"], id(client));
        EXPECT_EQ(prompts[0]["account"], "alice");
        EXPECT_EQ(prompts[0]["timeout_s"], 30);
        EXPECT_EQ(prompts[0]["on_timeout"], "refuse");
        EXPECT_EQ(gEvents.front()["type"], "client-connecting") << "the prompt follows it";
        EXPECT_FALSE(reaches(client)) << "a held client's input reaches nothing";
        EXPECT_EQ(asked(), none) << "the connect size of a held client";
        askLayout(client, 1600, 1000);
        EXPECT_EQ(asked(), none) << "a display-control layout of a held client";

        if (std::string(c.by) == "host") {
            EXPECT_EQ(answer(id(client), c.answer)["type"], "ok");
        } else {
            mac_control::tick(record(), now() + 29999);
            EXPECT_TRUE(mac_control::heldNow(id(client)));
            mac_control::tick(record(), now() + 30000);
        }
        EXPECT_FALSE(mac_control::heldNow(id(client)));
        EXPECT_EQ(gReleased.size(), c.released ? 1u : 0u);
        EXPECT_EQ(gClosed.size(), c.released ? 0u : 1u);
        const auto closed = eventsOf("prompt-closed");
        ASSERT_EQ(closed.size(), 1u);
        EXPECT_EQ(closed[0]["answer"], c.answer);
        EXPECT_EQ(closed[0]["by"], c.by);
        EXPECT_EQ(reaches(client), c.input);
        EXPECT_EQ(mode(client), c.mode);
        const json late = answer(id(client), "allow");
        EXPECT_EQ(late["type"], "error");
        EXPECT_EQ(late["message"], "no prompt is pending for this client");
        // The extension layer runs this on a released client's thread only;
        // for the others it shows that nothing waits to be applied late.
        record()->common.ClientReleased(base(), client);
        EXPECT_EQ(asked(), c.sizes ? std::make_pair(1024u, 768u) : none);
        record()->resizePending = false;
        askLayout(client, 1280, 1024);
        EXPECT_EQ(asked(), c.sizes ? std::make_pair(1280u, 1024u) : none)
            << "its display-control layouts from then on";

        const json line = logLines().back();
        EXPECT_EQ(line["event"], "prompt");
        EXPECT_EQ(line["answer"], c.answer);
        EXPECT_EQ(line["by"], c.by);
    }
    leave(clients_[2]);
    EXPECT_EQ(eventsOf("client-left").back()["reason"], "refused by the host");
}

TEST_F(ControlHold, AViewOnlyClientResizesOnlyOnceGivenControl) {
    rdpShadowClient* client = connect("alice", 1024, 768);
    ASSERT_EQ(answer(id(client), "view-only")["type"], "ok");
    record()->common.ClientReleased(base(), client);
    askLayout(client, 1600, 1000);
    EXPECT_FALSE(record()->resizePending);
    const auto setMode = [&](const char* mode) {
        return request("set-mode", id(client), "mode", mode)["type"];
    };
    ASSERT_EQ(setMode("control"), "ok");
    askLayout(client, 1600, 1000);
    EXPECT_EQ(asked(), std::make_pair(1600u, 1000u));
    record()->resizePending = false;
    ASSERT_EQ(setMode("view"), "ok");
    askLayout(client, 1280, 1024);
    EXPECT_FALSE(record()->resizePending);
}

TEST_F(ControlHold, NobodyAtTheDesktopLetsInOrAllowsOnTimeout) {
    ask(MAC_ASK_UNLESS_AWAY);
    presence(true, 0);
    rdpShadowClient* away = connect();
    EXPECT_TRUE(gHeld.empty()) << "locked: let in without a prompt";
    EXPECT_TRUE(eventsOf("prompt").empty());
    EXPECT_TRUE(reaches(away));

    presence(false, 1000);
    rdpShadowClient* asked = connect("bob");
    ASSERT_TRUE(mac_control::heldNow(id(asked)));
    // The person at the desktop walks away and the screen locks.
    presence(true, 20000);
    mac_control::tick(record(), now() + 30000);
    ASSERT_EQ(gReleased.size(), 1u);
    EXPECT_EQ(eventsOf("prompt-closed")[0]["answer"], "allow");
    EXPECT_EQ(eventsOf("prompt-closed")[0]["by"], "timeout");
    // Plain ask mode ignores presence: ArrivalAndTimeoutFollowTheSetting.
}

TEST_F(ControlHold, SeveralClientsEachGetTheirOwnPromptInOrder) {
    rdpShadowClient* a = connect("alice");
    advance(10000);
    rdpShadowClient* b = connect("bob");
    rdpShadowClient* c = connect("carol");
    const auto prompts = eventsOf("prompt");
    ASSERT_EQ(prompts.size(), 3u);
    EXPECT_EQ(prompts[0]["account"], "alice");
    EXPECT_EQ(prompts[1]["account"], "bob");
    EXPECT_EQ(prompts[2]["account"], "carol");

    EXPECT_EQ(answer(id(c), "view-only")["type"], "ok");
    mac_control::tick(record(), now() + 20000); // alice's time is up, not bob's
    EXPECT_FALSE(mac_control::heldNow(id(a)));
    EXPECT_TRUE(mac_control::heldNow(id(b)));
    EXPECT_EQ(answer(id(b), "allow")["type"], "ok");
    EXPECT_EQ(gReleased, (std::vector<const rdpShadowClient*>{c, b}));
    EXPECT_EQ(gClosed, (std::vector<const rdpShadowClient*>{a}));
}

TEST_F(ControlHold, WithoutAReaderAskRefusesAtOnce) {
    mac_control::setReadersForTests(0);
    rdpShadowClient* client = connect();
    EXPECT_TRUE(gHeld.empty());
    EXPECT_EQ(gClosed.size(), 1u);
    EXPECT_TRUE(eventsOf("prompt").empty());
    leave(client);
    EXPECT_NE(eventsOf("client-left").back()["reason"].get<std::string>().find("control channel"),
              std::string::npos);

    // Away mode with nobody there needs no reader.
    ask(MAC_ASK_UNLESS_AWAY);
    presence(false, 301000);
    rdpShadowClient* idle = connect("bob");
    EXPECT_EQ(gClosed.size(), 1u);
    EXPECT_TRUE(reaches(idle));

    // A client the extension layer cannot hold is refused, never let through.
    ask(MAC_ASK_ASK);
    mac_control::setReadersForTests(1);
    const mac_control::HoldPort noHold = {[](rdpShadowClient*) -> BOOL { return FALSE; },
                                          kPort.release, kPort.close};
    mac_control::setHoldPortForTests(&noHold);
    connect("carol");
    EXPECT_EQ(gClosed.size(), 2u);
    EXPECT_TRUE(eventsOf("prompt").empty());
}

TEST_F(ControlHold, AClientThatLeavesWhileHeldClosesItsPrompt) {
    rdpShadowClient* client = connect();
    const uint64_t gone = id(client);
    leave(client);
    const auto closed = eventsOf("prompt-closed");
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0]["by"], "gone");
    EXPECT_EQ(gEvents.back()["type"], "client-left");
    EXPECT_EQ(answer(gone, "allow")["message"], "no such client");
    mac_control::tick(record(), now() + 60000);
    EXPECT_TRUE(gClosed.empty()) << "no countdown left behind";
    EXPECT_EQ(logLines().back()["by"], "gone");
}

TEST_F(ControlHold, ADroppedClientComesBackWithoutAskingWithinAMinute) {
    rdpShadowClient* first = connect();
    ASSERT_EQ(answer(id(first), "view-only")["type"], "ok");
    leave(first); // the network dropped it
    advance(MAC_RECONNECT_GRACE_MS);
    rdpShadowClient* back = connect();
    EXPECT_FALSE(mac_control::heldNow(id(back)));
    EXPECT_EQ(mode(back), mac_control::ClientMode::View) << "its previous mode";
    EXPECT_FALSE(reaches(back));

    // The grace is used up, and it is not for another account or a late one.
    leave(back);
    advance(MAC_RECONNECT_GRACE_MS + 1);
    EXPECT_TRUE(mac_control::heldNow(id(connect())));
    rdpShadowClient* third = connect("bob");
    EXPECT_TRUE(mac_control::heldNow(id(third)));
}

TEST_F(ControlHold, NoGraceAfterARefusalOrAHostDisconnect) {
    rdpShadowClient* refused = connect();
    answer(id(refused), "refuse");
    leave(refused);
    EXPECT_TRUE(mac_control::heldNow(id(connect()))) << "refused: asked again";

    rdpShadowClient* thrownOut = connect("bob");
    answer(id(thrownOut), "allow");
    ASSERT_EQ(request("disconnect", id(thrownOut))["type"], "ok");
    leave(thrownOut);
    EXPECT_TRUE(mac_control::heldNow(id(connect("bob")))) << "disconnected by the host: asked";
}

TEST_F(ControlHold, TheLastClientToLeaveLocksAsTheSettingSays) {
    struct Case {
        const char* what;
        int32_t setting;
        bool lockedWhenFirstCame;
        int locks;
    };
    int before = 0;
    for (const Case& c : {Case{"on", MAC_LOCK_ON, false, 1}, Case{"off", MAC_LOCK_OFF, true, 0},
                          Case{"auto, someone was there", MAC_LOCK_AUTO, false, 0},
                          Case{"auto, it was locked", MAC_LOCK_AUTO, true, 1}}) {
        SCOPED_TRACE(c.what);
        ask(MAC_ASK_ALLOW, c.setting);
        presence(c.lockedWhenFirstCame, 0);
        rdpShadowClient* a = connect();
        presence(false, 0); // the host unlocked meanwhile: the first arrival counts
        rdpShadowClient* b = connect("bob");
        leave(a);
        EXPECT_EQ(sim().simPresence().locks(), before) << "one client is still there";
        leave(b);
        EXPECT_EQ(sim().simPresence().locks(), before + c.locks);
        before = sim().simPresence().locks();
    }
    // A client that never got the desktop locks nothing as it goes.
    ask(MAC_ASK_ASK, MAC_LOCK_ON);
    rdpShadowClient* held = connect("dave"); // not back from a drop: asked
    ASSERT_TRUE(mac_control::heldNow(id(held)));
    answer(id(held), "refuse");
    leave(held);
    EXPECT_EQ(sim().simPresence().locks(), before);
}

} // namespace
