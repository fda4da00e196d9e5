#include "mac_logic.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint64_t kConnect = 5000000;
constexpr uint64_t kTurn = 62; // the subsystem thread's loop period

struct Repaint {
    uint64_t at; // ms after the connect
    int32_t kind;
    int32_t logIndex;
};

// Runs loop turns from `from` until `to` (ms after the connect) and records
// every repaint. riskAt (ms after connect, or 0) raises a risk event with a
// burst, as an applied plan with an active client does.
std::vector<Repaint> runTurns(MacRepaintSchedule* s, uint64_t from, uint64_t to,
                              uint64_t riskAt = 0) {
    std::vector<Repaint> out;
    for (uint64_t t = from; t <= to; t += kTurn) {
        const uint64_t now = kConnect + t;
        if (riskAt && t <= riskAt && riskAt < t + kTurn) {
            mac_logic_repaint_burst(s, now, MAC_BURST_AFTER_CONNECT_MS);
            mac_logic_repaint_risk(s, now);
        }
        int32_t logIndex = 0;
        const int32_t kind = mac_logic_repaint_due(s, now, &logIndex);
        if (kind != MAC_REPAINT_NONE)
            out.push_back({t, kind, logIndex});
    }
    return out;
}

// The times of the repaints of `kind` after `after`.
std::vector<uint64_t> timesOf(const std::vector<Repaint>& repaints, int32_t kind, uint64_t after) {
    std::vector<uint64_t> times;
    for (const Repaint& r : repaints) {
        if (r.kind == kind && r.at > after)
            times.push_back(r.at);
    }
    return times;
}

// The turn at or just after ms (turns fall every 62 ms from the connect).
uint64_t turnAt(uint64_t ms) {
    return (ms + kTurn - 1) / kTurn * kTurn;
}

} // namespace

TEST(NextRepaint, DelaysByIndexAndTheIndexStopsAtSix) {
    const uint32_t expected[] = {4000, 3000, 3000, 50000, 240000, 900000, 1800000, 1800000};
    int32_t index = 0;
    for (uint32_t want : expected)
        EXPECT_EQ(mac_logic_next_repaint_ms(&index, kConnect, 0), want);
    EXPECT_EQ(index, 6);
}

TEST(NextRepaint, RiskWindowRepaintsEvery30SecondsWithoutMovingTheIndex) {
    int32_t index = 4;
    EXPECT_EQ(mac_logic_next_repaint_ms(&index, kConnect, kConnect + 1), 30000u);
    EXPECT_EQ(index, 4);
    EXPECT_EQ(mac_logic_next_repaint_ms(&index, kConnect + 1, kConnect + 1), 240000u);
    EXPECT_EQ(index, 5);
}

TEST(RepaintSchedule, ResizeOpensARiskWindowThenTheScheduleResumes) {
    MacRepaintSchedule s{};
    mac_logic_repaint_connect(&s, kConnect);
    const uint64_t resize = turnAt(20000);
    const std::vector<Repaint> repaints = runTurns(&s, 0, 500000, resize);
    EXPECT_EQ(s.riskUntil, kConnect + resize + 180000);
    EXPECT_EQ(timesOf(repaints, MAC_REPAINT_BURST, resize).size(), 3u);
    const std::vector<uint64_t> scheduled = timesOf(repaints, MAC_REPAINT_SCHEDULED, resize);
    // Every 30 s from 50 s until the window ends at 200 s, then 240 s later.
    ASSERT_EQ(scheduled.size(), 7u);
    EXPECT_EQ(scheduled[0], turnAt(resize + 30000));
    for (size_t i = 1; i < 6; i++)
        EXPECT_EQ(scheduled[i], turnAt(scheduled[i - 1] + 30000)) << i;
    EXPECT_GE(kConnect + scheduled[5], s.riskUntil);
    EXPECT_EQ(scheduled[6], turnAt(scheduled[5] + 240000));
    EXPECT_EQ(s.repaintIndex, 6);
}

TEST(RepaintSchedule, RiskOnlyBringsTheNextRepaintNearer) {
    MacRepaintSchedule s{};
    s.nextScheduledRepaint = kConnect + 10000;
    mac_logic_repaint_risk(&s, kConnect);
    EXPECT_EQ(s.nextScheduledRepaint, kConnect + 10000);
    EXPECT_EQ(s.riskUntil, kConnect + 180000);
    mac_logic_repaint_risk(&s, kConnect + 100000); // restarts the window
    EXPECT_EQ(s.riskUntil, kConnect + 280000);
    EXPECT_EQ(s.nextScheduledRepaint, kConnect + 10000);

    MacRepaintSchedule none{};
    mac_logic_repaint_risk(&none, kConnect);
    EXPECT_EQ(none.nextScheduledRepaint, kConnect + 30000);
}

TEST(RepaintSchedule, BurstComesFirstThenTheOthersOnLaterTurns) {
    MacRepaintSchedule s{};
    s.lastFrameTick = kConnect - 5000;
    s.nextScheduledRepaint = kConnect;
    mac_logic_repaint_burst(&s, kConnect, 0);
    EXPECT_EQ(mac_logic_repaint_due(&s, kConnect, nullptr), MAC_REPAINT_BURST);
    EXPECT_EQ(mac_logic_repaint_due(&s, kConnect, nullptr), MAC_REPAINT_SETTLE);
    EXPECT_EQ(mac_logic_repaint_due(&s, kConnect, nullptr), MAC_REPAINT_SCHEDULED);
    EXPECT_EQ(mac_logic_repaint_due(&s, kConnect, nullptr), MAC_REPAINT_NONE);
}

TEST(RepaintSchedule, RestartBurstStartsAfterHalfASecond) {
    MacRepaintSchedule s{};
    mac_logic_repaint_burst(&s, kConnect, MAC_BURST_AFTER_RESTART_MS);
    EXPECT_EQ(mac_logic_repaint_due(&s, kConnect + 499, nullptr), MAC_REPAINT_NONE);
    EXPECT_EQ(mac_logic_repaint_due(&s, kConnect + 500, nullptr), MAC_REPAINT_BURST);
    EXPECT_EQ(mac_logic_repaint_due(&s, kConnect + 3199, nullptr), MAC_REPAINT_BURST);
    EXPECT_EQ(mac_logic_repaint_due(&s, kConnect + 4200, nullptr), MAC_REPAINT_NONE);
}

TEST(AckWatch, ThirtyOneInFlightStallsAtMostOnceAMinute) {
    MacAckWatch w{};
    std::vector<uint64_t> stalls;
    for (uint64_t t = 0; t <= 150000; t += 1000) {
        if (mac_logic_ack_verdict(&w, 31, kConnect + t) & MAC_ACK_STALL)
            stalls.push_back(t);
    }
    EXPECT_EQ(stalls, (std::vector<uint64_t>{0, 60000, 120000}));
    MacAckWatch fresh{};
    EXPECT_EQ(mac_logic_ack_verdict(&fresh, 30, kConnect) & MAC_ACK_STALL, 0);
    // No stall yet: the first one counts even within a minute of tick 0.
    EXPECT_EQ(mac_logic_ack_verdict(&fresh, 31, 1000) & MAC_ACK_STALL, MAC_ACK_STALL);
}
