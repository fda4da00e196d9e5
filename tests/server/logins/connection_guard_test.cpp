// The connection guard: logins run before the library subscribes a
// connection to publication, the login grace time, the cap on unfinished
// logins, and the watchdog that closes a client its peers would wait for
// (stuck in a write, or in the rest of its loop turn).
#include <winpr/collections.h>

#include "login_fixture.h"
#include "server/shadow/ext/peer_admission.h"
#include "server/shadow/ext/peer_guard.h"
#include "server/shadow/ext/peer_state.h"

using namespace login_test;
using shadow_ext::GuardVerdict;

namespace {

class ConnectionGuard : public LoginTest {
  protected:
    // Runs the wrapped Initialize as the library's client thread does.
    BOOL initialize(FakeConnection* c) {
        c->peer.Logon = fakeLibraryLogon;
        return c->peer.Initialize(&c->peer);
    }
    std::shared_ptr<shadow_ext::PeerWatch> watch(FakeConnection* c) {
        return shadow_ext::peerWatch(&c->peer);
    }
    FakeConnection* loggedIn(const std::string& address) {
        FakeConnection* c = connect(address);
        EXPECT_NE(c, nullptr);
        EXPECT_TRUE(initialize(c));
        return c;
    }
};

} // namespace

// Facts: accepted at, activated, writing since, busy (in its turn) since.
// The grace time is 30 s; a client is closed when publication has waited
// 2 s and it has been stuck 1 s of them.
TEST(GuardVerdict, Table) {
    using enum GuardVerdict;
    constexpr uint64_t t = 1'000'000;
    struct Case {
        const char* what;
        shadow_ext::GuardFacts facts;
        uint64_t now, publishingSince;
        bool stopping;
        GuardVerdict want;
    } cases[] = {
        {"fresh login", {t, false, 0, 0}, t + 1000, t, false, Keep},
        {"login inside the grace", {t, false, 0, 0}, t + 29999, 0, false, Keep},
        {"login at the grace time", {t, false, 0, 0}, t + 30000, 0, false, LoginTooSlow},
        {"login while stopping", {t, false, 0, 0}, t + 10, 0, true, ServerStopping},
        {"idle, long publication", {t, true, 0, 0}, t + 60000, t, false, Keep},
        {"stuck write, no publ.", {t, true, t, 0}, t + 60000, 0, false, Keep},
        {"stuck write, short publ.", {t, true, t, 0}, t + 1999, t, false, Keep},
        {"short write, long publ.", {t, true, t + 1500, 0}, t + 2400, t, false, Keep},
        {"stuck write, publ. waited", {t, true, t + 1000, 0}, t + 2000, t, false, NotTakingFrames},
        {"stuck turn, publ. waited", {t, true, 0, t + 1000}, t + 2000, t, false, NotTakingFrames},
        {"short turn, long publ.", {t, true, 0, t + 1500}, t + 2400, t, false, Keep},
        {"write in a long turn", {t, true, t + 1900, t + 500}, t + 2000, t, false, NotTakingFrames},
        {"stuck write, stopping", {t, true, t, 0}, t + 1000, 0, true, ServerStopping},
        {"short write, stopping", {t, true, t + 500, 0}, t + 1000, 0, true, Keep},
        {"clock behind the write", {t, true, t + 5000, 0}, t + 10, t, false, Keep},
        {"stuck write, alone", {t, true, t + 1000, 0, false, 0, true}, t + 60000, t, false, Keep},
        {"alone, stopping", {t, true, t, 0, false, 0, true}, t + 1000, 0, true, ServerStopping},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shadow_ext::guardVerdict(c.facts, c.now, c.publishingSince, c.stopping), c.want)
            << c.what;
}

TEST_F(ConnectionGuard, InitializeReturnsOnlyOnceTheClientIsActivated) {
    FakeConnection* c = connect("10.7.0.1");
    ASSERT_NE(c, nullptr);
    c->onCheck = [](FakeConnection& f) {
        // TLS, NLA, the password check: three turns, then activation.
        if (f.checkCalls.load() == 3)
            f.client.activated = TRUE;
        return TRUE;
    };
    EXPECT_EQ(shadow_ext_unfinished_logins(), 1u);
    ASSERT_TRUE(initialize(c));
    EXPECT_EQ(c->checkCalls.load(), 3);
    EXPECT_EQ(c->initializeCalls.load(), 1) << "the library's Initialize ran first";
    EXPECT_EQ(c->peer.Logon, mac_shadow_peer_logon);
    EXPECT_EQ(shadow_ext_unfinished_logins(), 0u) << "handed over to publication";
    EXPECT_FALSE(c->shutDown());
    // What the library sets after Initialize is in place before the
    // capabilities are exchanged.
    EXPECT_TRUE(freerdp_settings_get_bool(c->settings, FreeRDP_UnicodeInput));
    EXPECT_TRUE(freerdp_settings_get_bool(c->settings, FreeRDP_HasHorizontalWheel));
    EXPECT_TRUE(freerdp_settings_get_bool(c->settings, FreeRDP_HasExtendedMouseEvent));
}

TEST_F(ConnectionGuard, HandshakeEndsWithTheConnectionShutDown) {
    struct Case {
        const char* what;
        std::function<BOOL(FakeConnection&)> check;
        const char* line; // ours, naming the address
        int checks;
    } cases[] = {
        {"refused by the library (wrong password)", [](FakeConnection&) { return FALSE; },
         "the connection from 10.7.1.1 ended before logging in (0 more from it since the last "
         "line)",
         1},
        {"silent past the grace time",
         [](FakeConnection&) {
             advance(10'000);
             return TRUE;
         },
         "closing the connection from 10.7.1.1: not logged in after 30 s", 3},
    };
    for (const Case& k : cases) {
        LogCapture::clear();
        FakeConnection* c = connect("10.7.1.1");
        ASSERT_NE(c, nullptr) << k.what;
        c->onCheck = k.check;
        EXPECT_TRUE(initialize(c)) << k.what << ": the library's loop ends it";
        EXPECT_EQ(c->checkCalls.load(), k.checks) << k.what;
        EXPECT_TRUE(c->shutDown()) << k.what;
        // The library's next turn fails without reading what the client
        // sent before the shutdown (a second PostConnect and password check).
        EXPECT_FALSE(c->peer.CheckFileDescriptor(&c->peer)) << k.what;
        EXPECT_EQ(c->checkCalls.load(), k.checks) << k.what;
        EXPECT_TRUE(LogCapture::has(k.line));
        EXPECT_EQ(shadow_ext_unfinished_logins(), 1u) << "counted until the library ends it";
        disconnect(c);
        EXPECT_EQ(shadow_ext_unfinished_logins(), 0u);
    }
}

TEST_F(ConnectionGuard, QuitMessageEndsTheHandshakeAndStaysForTheLibrary) {
    FakeConnection* c = connect("10.7.2.1");
    ASSERT_NE(c, nullptr);
    c->client.MsgQueue = MessageQueue_New(nullptr);
    ASSERT_NE(c->client.MsgQueue, nullptr);
    c->onCheck = [](FakeConnection& f) {
        MessageQueue_PostQuit(f.client.MsgQueue, 0);
        return TRUE;
    };
    EXPECT_TRUE(initialize(c));
    EXPECT_TRUE(c->shutDown());
    wMessage message{};
    ASSERT_TRUE(MessageQueue_Peek(c->client.MsgQueue, &message, TRUE));
    EXPECT_EQ(message.id, static_cast<UINT32>(WMQ_QUIT));
    MessageQueue_Free(c->client.MsgQueue);
    c->client.MsgQueue = nullptr;
}

namespace {

// The library's PostConnect as far as a login goes: the client is reported
// activated, then a TLS login's password is checked.
std::atomic<int> gLibraryPostConnects{0};

BOOL libraryPostConnect(freerdp_peer* peer) {
    auto* client = reinterpret_cast<rdpShadowClient*>(peer->context);
    gLibraryPostConnects++;
    const rdpSettings* s = peer->context->settings;
    return client->subsystem->Authenticate(client->subsystem, client,
                                           freerdp_settings_get_string(s, FreeRDP_Username),
                                           freerdp_settings_get_string(s, FreeRDP_Domain),
                                           freerdp_settings_get_string(s, FreeRDP_Password)) >= 0;
}

} // namespace

// A client with the wrong password is refused before the library's
// PostConnect, which would report it as activated; the right one is checked
// once, not once more by the library.
TEST_F(ConnectionGuard, ThePasswordIsCheckedBeforeTheLibraryReportsTheClientActivated) {
    server_.authentication = TRUE;
    accounts().set("alice", "right-pw");
    const struct {
        const char* password;
        BOOL admitted;
        int libraryPostConnects;
    } cases[] = {{"wrong", FALSE, 0}, {"right-pw", TRUE, 1}};
    for (const auto& k : cases) {
        FakeConnection* c = connect("10.6.0.1");
        ASSERT_NE(c, nullptr);
        c->peer.PostConnect = libraryPostConnect;
        ASSERT_TRUE(initialize(c));
        freerdp_settings_set_bool(c->settings, FreeRDP_NlaSecurity, FALSE); // a TLS login
        freerdp_settings_set_string(c->settings, FreeRDP_Username, "alice");
        freerdp_settings_set_string(c->settings, FreeRDP_Password, k.password);
        const int checks = accounts().checks();
        gLibraryPostConnects = 0;
        EXPECT_EQ(c->peer.PostConnect(&c->peer), k.admitted) << k.password;
        EXPECT_EQ(gLibraryPostConnects.load(), k.libraryPostConnects) << k.password;
        EXPECT_EQ(accounts().checks(), checks + 1) << k.password << ": one check";
        disconnect(c);
    }
}

TEST(Admission, VerdictTable) {
    using shadow_ext::Admission;
    constexpr size_t start = shadow_ext::kShedStart, full = shadow_ext::kShedFull;
    struct Case {
        size_t unfinished, fromAddress;
        uint64_t penalty;
        unsigned roll;
        Admission expected;
    } cases[] = {
        {0, 0, 0, 0, Admission::Admit},
        {start - 1, 2, 0, 0, Admission::Admit},
        {5, shadow_ext::kMaxUnfinishedPerAddress, 0, 99, Admission::AddressBusy},
        {0, 0, 1, 99, Admission::Penalised},
        // From the start count a growing share is refused: the rate at the
        // start, everything at the full count.
        {start, 0, 0, shadow_ext::kShedRatePercent - 1, Admission::Shed},
        {start, 0, 0, shadow_ext::kShedRatePercent, Admission::Admit},
        {(start + full) / 2, 0, 0, 64, Admission::Shed},
        {(start + full) / 2, 0, 0, 65, Admission::Admit},
        {full - 1, 0, 0, 97, Admission::Shed},
        {full, 0, 0, 99, Admission::Shed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shadow_ext::admissionVerdict(c.unfinished, c.fromAddress, c.penalty, c.roll),
                  c.expected)
            << c.unfinished << " unfinished, " << c.fromAddress << " from the address, roll "
            << c.roll;
}

// Three addresses holding logins open cannot shut out a fourth.
TEST_F(ConnectionGuard, EachAddressHasAFewUnfinishedLoginsAndTheLineNamesIt) {
    std::vector<FakeConnection*> pending;
    for (const char* attacker : {"10.8.0.1", "10.8.0.2", "10.8.0.3"}) {
        for (size_t i = 0; i < shadow_ext::kMaxUnfinishedPerAddress; ++i)
            pending.push_back(connect(attacker));
        EXPECT_EQ(connect(attacker), nullptr) << attacker;
        EXPECT_EQ(connect(attacker), nullptr) << attacker;
    }
    for (FakeConnection* c : pending)
        ASSERT_NE(c, nullptr);
    EXPECT_TRUE(LogCapture::has("refusing the connection from 10.8.0.2: 3 connections from it are "
                                "still logging in (0 more refused from it since the last line)"));
    EXPECT_EQ(LogCapture::count("refusing the connection"), 3) << "one line per address";
    EXPECT_NE(connect("10.8.1.1"), nullptr) << "a fresh address";

    ASSERT_TRUE(initialize(pending[0])); // logs in: its address has a place again
    EXPECT_NE(connect("10.8.0.1"), nullptr);
    disconnect(pending[4]); // ends: another place for 10.8.0.2
    EXPECT_NE(connect("10.8.0.2"), nullptr);
}

TEST_F(ConnectionGuard, PastTheStartCountNewConnectionsAreShed) {
    for (size_t i = 0; i < shadow_ext::kShedStart; ++i)
        ASSERT_NE(connect("10.8.2." + std::to_string(i)), nullptr);
    shadow_ext::setShedRollForTests([] { return 0u; });
    EXPECT_EQ(connect("10.8.3.1"), nullptr);
    EXPECT_TRUE(LogCapture::has("refusing the connection from 10.8.3.1: 10 connections are logging "
                                "in, 30% of new ones are refused"));
    shadow_ext::setShedRollForTests([] { return 99u; });
    EXPECT_NE(connect("10.8.3.2"), nullptr);
}

// A connection that did not log in within the grace time holds its address
// back, for a time that doubles; others are not slowed.
TEST_F(ConnectionGuard, AnAddressWhoseLoginsTimeOutWaitsLonger) {
    for (uint64_t penalty : {shadow_ext::kPenaltyFirstMs, 2 * shadow_ext::kPenaltyFirstMs}) {
        LogCapture::clear();
        FakeConnection* silent = connect("10.8.4.1");
        ASSERT_NE(silent, nullptr);
        advance(shadow_ext::kLoginGraceMs);
        EXPECT_EQ(shadow_ext_guard_sweep(), 1u);
        EXPECT_TRUE(silent->shutDown());
        EXPECT_TRUE(LogCapture::has("closing the connection from 10.8.4.1: not logged in after 30 "
                                    "s; its next connection waits " +
                                    std::to_string(penalty / 1000) + " s"));
        disconnect(silent);
        EXPECT_EQ(connect("10.8.4.1"), nullptr);
        EXPECT_TRUE(
            LogCapture::has("refusing the connection from 10.8.4.1: held back for another " +
                            std::to_string(penalty / 1000) + " s"));
        FakeConnection* other = connect("10.8.4.2");
        EXPECT_NE(other, nullptr) << "another address";
        if (other)
            disconnect(other);
        advance(penalty - 1);
        EXPECT_EQ(connect("10.8.4.1"), nullptr);
        advance(1);
        shadow_ext::refusalLines().clear();
        shadow_ext::timeoutLines().clear();
    }
    EXPECT_NE(connect("10.8.4.1"), nullptr);
}

TEST_F(ConnectionGuard, WatchdogClosesTheClientsThePublicationWaitsFor) {
    FakeConnection* writing = loggedIn("10.9.0.1");
    FakeConnection* inTurn = loggedIn("10.9.0.2");
    FakeConnection* idle = loggedIn("10.9.0.3");
    FakeConnection* logging = connect("10.9.0.4");
    ASSERT_NE(logging, nullptr);
    // The library's loop as the activated clients run it: a turn begins
    // (events), the frame step, then the rest of the turn (input...).
    const auto turn = [](FakeConnection* c, bool finished) {
        HANDLE events[4] = {};
        EXPECT_EQ(c->peer.GetEventHandles(&c->peer, events, 4), 1u);
        const int checks = c->checkCalls.load();
        EXPECT_TRUE(c->peer.CheckFileDescriptor(&c->peer));
        EXPECT_EQ(c->checkCalls.load(), checks + 1) << "the library's own check ran";
        if (finished) {
            EXPECT_EQ(c->peer.GetEventHandles(&c->peer, events, 4), 1u);
        }
    };
    turn(idle, true);
    turn(inTurn, false); // its input never returns
    watch(writing)->writingSince.store(now() + 100);

    shadow_ext_publish_begin();
    advance(1999);
    EXPECT_EQ(shadow_ext_guard_sweep(), 0u) << "the publication has not waited long yet";
    advance(1);
    EXPECT_EQ(shadow_ext_guard_sweep(), 2u);
    shadow_ext_publish_end();
    EXPECT_TRUE(writing->shutDown());
    EXPECT_TRUE(inTurn->shutDown());
    EXPECT_FALSE(idle->shutDown());
    EXPECT_FALSE(logging->shutDown());
    EXPECT_TRUE(LogCapture::has("closing the connection from 10.9.0.1: it has taken no frame for "
                                "1.9 s while the other clients waited for it"));
    EXPECT_TRUE(LogCapture::has("closing the connection from 10.9.0.2: it has taken no frame for "
                                "2.0 s while the other clients waited for it"));
    EXPECT_EQ(shadow_ext_guard_sweep(), 0u) << "closed once";
}

// A slow link can take seconds to carry one whole frame: the only client is
// kept however long its write takes, since nobody waits for it but the
// capture; once a second client is there to wait, the rule holds again.
TEST_F(ConnectionGuard, TheOnlyClientIsNotClosedForASlowWrite) {
    FakeConnection* slow = loggedIn("10.9.2.1");
    watch(slow)->writingSince.store(now());
    shadow_ext_publish_begin();
    advance(10'000);
    EXPECT_EQ(shadow_ext_guard_sweep(), 0u);
    EXPECT_FALSE(slow->shutDown());
    FakeConnection* second = loggedIn("10.9.2.2");
    EXPECT_EQ(shadow_ext_guard_sweep(), 1u);
    shadow_ext_publish_end();
    EXPECT_TRUE(slow->shutDown());
    EXPECT_FALSE(second->shutDown());
    EXPECT_TRUE(LogCapture::has("closing the connection from 10.9.2.1: it has taken no frame for "
                                "10.0 s while the other clients waited for it"));
}

TEST_F(ConnectionGuard, StoppingClosesLoginsAndStuckWritersOnly) {
    FakeConnection* idle = loggedIn("10.9.1.1");
    FakeConnection* stuck = loggedIn("10.9.1.2");
    FakeConnection* logging = connect("10.9.1.3");
    watch(stuck)->writingSince.store(now());
    advance(1000);
    shadow_ext_peers_stopping();
    EXPECT_TRUE(logging->shutDown());
    EXPECT_TRUE(stuck->shutDown());
    EXPECT_FALSE(idle->shutDown()) << "it takes the library's quit message";
    EXPECT_EQ(LogCapture::count("the server is stopping"), 2) << LogCapture::all();
}
