// The session's steps on an injected clock: the order of the calls, the
// bounded waits, and what is reported for failures, ends and closes.
#include <gtest/gtest.h>

#include "platform/gnome/gnome_session_state.h"

namespace corvane::platform::gnome {
namespace {

using namespace std::chrono_literals;
using Call = GnomeSessionCall;
using Phase = GnomeSessionPhase;
using TimePoint = GnomeSessionState::TimePoint;

const TimePoint t0{};

// A state machine walked through a successful open.
GnomeSessionState opened() {
    GnomeSessionState s;
    s.begin(t0);
    for (int i = 0; i < 4; ++i)
        s.callAnswered(true, {}, t0);
    s.streamAdded(t0);
    return s;
}

TEST(GnomeSessionStateOpen, CallsComeInMuttersOrderAndTheStreamOpensIt) {
    GnomeSessionState s;
    std::vector<Call> calls;
    auto effect = s.begin(t0);
    while (effect.call) {
        calls.push_back(*effect.call);
        EXPECT_FALSE(effect.opened);
        effect = s.callAnswered(true, {}, t0 + 10ms);
    }
    EXPECT_EQ(calls, (std::vector<Call>{Call::CreateRemoteDesktop, Call::CreateScreenCast,
                                        Call::RecordMonitor, Call::Start}));
    EXPECT_EQ(s.phase(), Phase::AwaitingStream);
    effect = s.streamAdded(t0 + 20ms);
    EXPECT_TRUE(effect.opened);
    EXPECT_FALSE(effect.failed);
    EXPECT_EQ(s.phase(), Phase::Running);
    EXPECT_FALSE(s.deadline());
}

// Which call fails decides whether mutter holds a session to stop.
TEST(GnomeSessionStateOpen, AFailedCallFailsTheOpenAndStopsWhatWasMade) {
    struct Case {
        int answeredBefore; // calls that succeeded first
        bool stops;
    };
    for (const Case c : {Case{0, false}, Case{1, true}, Case{2, true}, Case{3, true}}) {
        SCOPED_TRACE(c.answeredBefore);
        GnomeSessionState s;
        s.begin(t0);
        for (int i = 0; i < c.answeredBefore; ++i)
            s.callAnswered(true, {}, t0);
        const auto effect = s.callAnswered(false, "Session creation inhibited", t0);
        ASSERT_TRUE(effect.failed);
        EXPECT_NE(effect.failed->find("Session creation inhibited"), std::string::npos);
        EXPECT_EQ(effect.call == Call::Stop, c.stops);
        EXPECT_EQ(effect.finished, !c.stops);
        if (c.stops) {
            // Stop's answer, whatever it is, lets the connection go.
            EXPECT_TRUE(s.callAnswered(false, "gone", t0).finished);
        }
        EXPECT_EQ(s.phase(), Phase::Ended);
    }
}

TEST(GnomeSessionStateDeadlines, EachWaitIsBoundedAndOnlyItsOwnLimitCounts) {
    const GnomeSessionLimits limits{100ms, 300ms, 50ms};
    {
        GnomeSessionState s(limits);
        s.begin(t0);
        EXPECT_FALSE(s.tick(t0 + 99ms).failed);
        const auto effect = s.tick(t0 + 100ms);
        ASSERT_TRUE(effect.failed);
        EXPECT_NE(effect.failed->find("RemoteDesktop.CreateSession"), std::string::npos);
        EXPECT_TRUE(effect.finished); // nothing made yet: no Stop
    }
    {
        GnomeSessionState s(limits);
        s.begin(t0);
        for (int i = 0; i < 4; ++i)
            s.callAnswered(true, {}, t0 + 90ms);
        // The stream's own limit runs from the last answer.
        EXPECT_FALSE(s.tick(t0 + 389ms).failed);
        const auto effect = s.tick(t0 + 390ms);
        ASSERT_TRUE(effect.failed);
        EXPECT_NE(effect.failed->find("PipeWire"), std::string::npos);
        EXPECT_EQ(effect.call, Call::Stop);
        // A Stop that is never answered ends after its own limit.
        EXPECT_FALSE(s.tick(t0 + 439ms).finished);
        EXPECT_TRUE(s.tick(t0 + 440ms).finished);
    }
}

TEST(GnomeSessionStateEnds, EndsFromOutsideAreReportedByPhase) {
    struct Case {
        const char* name;
        std::function<GnomeSessionState()> make;
        bool failed, ended;
    };
    const std::vector<Case> cases = {
        {"opening",
         [] {
             GnomeSessionState s;
             s.begin(t0);
             return s;
         },
         true, false},
        {"running", opened, false, true},
        {"closing",
         [] {
             auto s = opened();
             s.closeWanted(t0);
             return s;
         },
         false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto s = c.make();
        const auto effect = s.endedFromOutside("the compositor closed the session", t0);
        EXPECT_EQ(effect.failed.has_value(), c.failed);
        EXPECT_EQ(effect.ended.has_value(), c.ended);
        EXPECT_TRUE(effect.finished);
        EXPECT_FALSE(effect.call);
        EXPECT_EQ(s.phase(), Phase::Ended);
        // Nothing more is reported after the end.
        const auto again = s.endedFromOutside("again", t0);
        EXPECT_FALSE(again.failed || again.ended || again.finished);
    }
}

TEST(GnomeSessionStateClose, CloseStopsARunningSessionAndReportsNoEnd) {
    auto s = opened();
    auto effect = s.closeWanted(t0);
    EXPECT_EQ(effect.call, Call::Stop);
    EXPECT_FALSE(effect.ended);
    EXPECT_EQ(s.phase(), Phase::Closing);
    // Closed arriving for our own Stop is no end from outside.
    effect = s.endedFromOutside("the compositor closed the session", t0);
    EXPECT_FALSE(effect.ended);
    EXPECT_TRUE(effect.finished);
}

TEST(GnomeSessionStateClose, CloseWhileOpeningFailsTheOpen) {
    GnomeSessionState s;
    s.begin(t0);
    s.callAnswered(true, {}, t0);
    const auto effect = s.closeWanted(t0);
    EXPECT_TRUE(effect.failed);
    EXPECT_EQ(effect.call, Call::Stop);
    // A late answer to the call in flight changes nothing but the stop.
    EXPECT_FALSE(s.streamAdded(t0).opened);
}

} // namespace
} // namespace corvane::platform::gnome
