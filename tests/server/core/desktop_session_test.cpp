// The desktop session's lifetime over the sim backend: opened by the first
// client's connect step, closed after the last client left, followed when
// the compositor ends it, and a refusal or a hang refuses the client.
#include <gtest/gtest.h>

#include "capture/mac_capture.h"
#include "core_fixture.h"
#include "server/shadow/Mac/core/desktop_session.h"
#include "server/shadow/Mac/layout/layout_request.h"
#include "server/shadow/Mac/loop/thread.h"

namespace {

class DesktopSessionTest : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        sim().simCapture().setDisplays({{1, 0, 0, 1280, 800}}, 1);
    }
    void TearDown() override {
        mac_capture_stop();
        CoreTest::TearDown();
    }
    corvane::platform::sim::SimDesktopSession& session() { return sim().simSession(); }
    // A client through its connect step, activated when the step let it in.
    BOOL connect() {
        rdpShadowClient* c = addClient(false);
        c->server = server();
        const BOOL in = mac_shadow_client_connect(&record()->common.base, c);
        c->activated = in;
        return in;
    }
    size_t runningStreams() {
        size_t n = 0;
        for (const auto& s : sim().simCapture().streams())
            n += s->started() && !s->stopRequested() && !s->destroyed();
        return n;
    }
};

TEST_F(DesktopSessionTest, OpenedOnceForTwoClientsAndClosedAfterTheLast) {
    turn();
    EXPECT_EQ(session().opens(), 0) << "nobody watches yet";
    EXPECT_EQ(runningStreams(), 0u) << "no capture without a session";

    ASSERT_TRUE(connect());
    ASSERT_TRUE(connect());
    EXPECT_EQ(session().opens(), 1);
    turn();
    EXPECT_EQ(runningStreams(), 1u) << "the capture starts once the session is open";

    removeClients();
    turn();
    EXPECT_FALSE(session().isOpen());
    EXPECT_EQ(session().closes(), 1);
    EXPECT_EQ(runningStreams(), 0u) << "the capture ends with the session";
    EXPECT_EQ(LogLines::count("the last client left: desktop session closed"), 1u);
    turn();
    EXPECT_EQ(session().closes(), 1) << "closed once";
}

// A client that connects before the subsystem thread caught up with the end
// gets a new session too, and nobody is sent away for the old one.
TEST_F(DesktopSessionTest, EndedFromOutsideEndsTheClientsAndTheNextClientReopens) {
    ASSERT_TRUE(connect());
    turn();
    ASSERT_EQ(runningStreams(), 1u);

    ASSERT_TRUE(session().endFromOutside("the compositor closed it"));
    EXPECT_EQ(LogLines::count("the desktop session was ended from outside (the compositor "
                              "closed it)"),
              1u);
    turn();
    EXPECT_EQ(clientQuits(), 1) << "every client's session ends";
    EXPECT_EQ(runningStreams(), 0u);
    EXPECT_EQ(LogLines::count("ending the clients' sessions"), 1u);
    turn();
    EXPECT_EQ(clientQuits(), 1) << "once";

    removeClients(); // their threads left
    ASSERT_TRUE(connect());
    EXPECT_EQ(session().opens(), 2);
    turn();
    EXPECT_EQ(runningStreams(), 1u);
    EXPECT_EQ(clientQuits(), 1) << "the new session's client stays";

    ASSERT_TRUE(session().endFromOutside("gone"));
    ASSERT_TRUE(connect()); // before the next turn
    EXPECT_TRUE(session().isOpen());
    EXPECT_EQ(session().opens(), 3);
    turn();
    EXPECT_EQ(clientQuits(), 1);
    EXPECT_EQ(runningStreams(), 1u);
}

TEST_F(DesktopSessionTest, ARefusedOrHungOpenRefusesTheClient) {
    session().refuseOpens("Session creation inhibited");
    EXPECT_FALSE(connect());
    EXPECT_EQ(LogLines::count("the desktop session could not be opened (Session creation "
                              "inhibited): refusing the client"),
              1u);

    session().refuseOpens("");
    session().holdOpens(true);
    const uint64_t before = now();
    EXPECT_FALSE(connect());
    EXPECT_EQ(now() - before, kSessionOpenLimitMs) << "bounded by the limit";
    EXPECT_EQ(LogLines::count("the desktop session did not open within 10000 ms: refusing the "
                              "client"),
              1u);
    session().releaseHeldOpen(); // a late answer changes nothing
    turn();
    EXPECT_EQ(runningStreams(), 0u);

    session().holdOpens(false);
    removeClients();
    EXPECT_TRUE(connect()) << "a later client gets the session";
    EXPECT_TRUE(session().isOpen());
}

} // namespace
