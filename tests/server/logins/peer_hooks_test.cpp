// The listener wrapper with the subsystem's peer init and peer end: the
// connection limit before the library's accept, the hooks on admitted peers,
// and one peer end per connection. (The window's own edges are in
// tests/server/logic; the hooks an admitted peer gets are used in
// nla_login_test.cpp and connection_guard_test.cpp.)
#include "login_fixture.h"

using namespace login_test;

namespace {

class PeerHooks : public LoginTest {};

} // namespace

// The sixteenth connection in a minute is refused before the library's
// accept, and the refused peer is left as the listener gave it.
TEST_F(PeerHooks, SixteenthConnectionInAMinuteIsRefusedBeforeTheLibrarySeesIt) {
    const size_t trackedBefore = shadow_ext_tracked_peers();
    for (int i = 0; i < 15; i++) {
        FakeConnection* c = connect("127.0.0.1");
        ASSERT_NE(c, nullptr) << "connection " << i + 1;
        disconnect(c);
        advance(1000);
    }
    EXPECT_EQ(libraryAccepts(), 15);
    bool admitted = true;
    FakeConnection* refused = connectRaw("127.0.0.1", &admitted);
    EXPECT_FALSE(admitted);
    EXPECT_EQ(libraryAccepts(), 15) << "the library's accept never runs for a refused peer";
    EXPECT_EQ(refused->peer.context, nullptr);
    EXPECT_EQ(shadow_ext_tracked_peers(), trackedBefore);
    EXPECT_EQ(refused->peer.SspiNtlmHashCallback, nullptr);
    // The listener frees it; its Disconnect is the library's own again.
    refused->peer.Disconnect(&refused->peer);
    EXPECT_EQ(refused->disconnectCalls.load(), 1);
    EXPECT_TRUE(LogCapture::has("[WARN] mac_shadow_peer_init: too many connections from "
                                "127.0.0.1 (more than 15 a minute): refusing for now (0 more "
                                "refused from it since the last line)"));
    EXPECT_NE(connect("127.0.0.2"), nullptr) << "other addresses are counted apart";
}

// One line per address a minute, with the count held back: a second address
// over its limit is not hidden behind the first.
TEST_F(PeerHooks, RateWarningOncePerAddressAMinuteWithACount) {
    for (const char* address : {"10.2.2.2", "10.2.2.3"}) {
        for (int i = 0; i < 15; i++)
            disconnect(connect(address));
        connect(address);
        connect(address);
    }
    EXPECT_EQ(LogCapture::count("too many connections from 10.2.2.2"), 1) << LogCapture::all();
    EXPECT_EQ(LogCapture::count("too many connections from 10.2.2.3"), 1) << LogCapture::all();
    advance(59'999);
    connect("10.2.2.2");
    EXPECT_EQ(LogCapture::count("too many connections from 10.2.2.2"), 1);
    advance(1);
    for (int i = 0; i < 15; i++)
        disconnect(connect("10.2.2.2"));
    connect("10.2.2.2");
    EXPECT_TRUE(LogCapture::has("too many connections from 10.2.2.2 (more than 15 a minute): "
                                "refusing for now (2 more refused from it since the last line)"));
}

TEST_F(PeerHooks, LogonHookRemembersTheLibraryLogonOnce) {
    FakeConnection* a = connect("10.3.3.4");
    a->peer.Logon = fakeLibraryLogon;
    a->peer.Initialize(&a->peer);
    FakeConnection* b = connect("10.3.3.5");
    b->peer.Logon = mac_shadow_peer_logon; // already ours: must not chain to itself
    b->peer.Initialize(&b->peer);
    const int before = libraryLogonCalls();
    SEC_WINNT_AUTH_IDENTITY identity{};
    EXPECT_TRUE(b->peer.Logon(&b->peer, &identity, TRUE));
    EXPECT_EQ(libraryLogonCalls(), before + 1);
}

TEST_F(PeerHooks, PeerEndRunsOnceAndTheLibraryDisconnectStillRuns) {
    configureNla("alice:00112233445566778899aabbccddeeff");
    FakeConnection* c = connect("10.4.4.4");
    shadow_ext_client_set_nla_attempt(&c->client, 1);
    const size_t tracked = shadow_ext_tracked_peers();
    disconnect(c);
    EXPECT_EQ(c->disconnectCalls.load(), 1);
    EXPECT_EQ(shadow_ext_tracked_peers(), tracked - 1);
    EXPECT_EQ(mac_logic_lockout_failures(&record()->lockoutTable, "10.4.4.4"), 1);
    disconnect(c); // a second Disconnect ends nothing twice
    EXPECT_EQ(c->disconnectCalls.load(), 2);
    EXPECT_EQ(mac_logic_lockout_failures(&record()->lockoutTable, "10.4.4.4"), 1);
}

TEST_F(PeerHooks, FailedLibraryAcceptLeavesNothingTracked) {
    const size_t tracked = shadow_ext_tracked_peers();
    auto failing = [](freerdp_listener*, freerdp_peer*) -> BOOL { return FALSE; };
    pfnShadowExtPeerAccepted previous = shadow_ext_set_library_accept(failing);
    bool admitted = true;
    FakeConnection* c = connectRaw("10.5.5.5", &admitted);
    shadow_ext_set_library_accept(previous);
    EXPECT_FALSE(admitted);
    EXPECT_EQ(shadow_ext_tracked_peers(), tracked);
    EXPECT_NE(c->peer.Disconnect, nullptr);
    c->peer.Disconnect(&c->peer);
    EXPECT_EQ(c->disconnectCalls.load(), 1);
}

TEST_F(PeerHooks, PeerInitClearsTheNlaMark) {
    FakeConnection* c = connect("10.6.6.6");
    shadow_ext_client_set_nla_attempt(&c->client, 2);
    EXPECT_TRUE(mac_shadow_peer_init(nullptr, &c->client));
    EXPECT_EQ(shadow_ext_client_nla_attempt(&c->client), 0);
}
