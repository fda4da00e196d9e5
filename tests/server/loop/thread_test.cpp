// Loop turns of the subsystem thread with an injected clock.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <freerdp/settings.h>
#include <gtest/gtest.h>

#include "server/core/core_fixture.h"
#include "server/shadow/Mac/loop/frames.h"
#include "server/shadow/Mac/loop/stats_file.h"
#include "server/shadow/Mac/loop/thread.h"

class SubsystemLoop : public CoreTest {
  protected:
    // Times (ms after `start`) at which publications happened.
    std::vector<uint64_t> repaintTimes(uint64_t start, uint64_t until) {
        std::vector<uint64_t> times;
        int seen = publications();
        while (now() + 62 <= start + until) {
            turn();
            if (publications() != seen) {
                times.push_back(now() - start);
                seen = publications();
            }
        }
        return times;
    }
};

TEST_F(SubsystemLoop, RepaintsAfterAConnect) {
    record()->pictureCaptured = true;
    addClient();
    const uint64_t start = now();
    mac_shadow_loop_turn(record(), start);
    EXPECT_EQ(record()->sessions, 1u);
    EXPECT_EQ(LogLines::count("client ready, sending full frames for a few seconds"), 1u);
    const auto times = repaintTimes(start, 61000);
    const std::vector<uint64_t> expected = {1500, 2300, 3100, 4000, 7000, 10000, 60000};
    ASSERT_EQ(times.size(), expected.size());
    // Each repaint books the next from the turn it ran in, so turn lateness
    // (under 62 ms a turn) adds up along the schedule.
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_GE(times[i], expected[i]) << i;
        EXPECT_LT(times[i], expected[i] + 62 * (i + 1)) << i;
    }
    EXPECT_EQ(record()->repaints, 4u) << "burst repaints are not counted";
    EXPECT_EQ(LogLines::count("after the client connected"), 3u);
}

TEST_F(SubsystemLoop, SettleRepaintOnceFramesStop) {
    record()->pictureCaptured = true;
    addClient();
    mac_shadow_loop_turn(record(), now());
    runTurnsUntil(now() + 11000); // past the burst and the first scheduled repaints
    const uint64_t repaints = record()->repaints;
    record()->lastFrameTick = now();
    runTurnsUntil(now() + 400);
    EXPECT_EQ(record()->repaints, repaints) << "frames stopped less than a second ago";
    runTurnsUntil(now() + 700);
    EXPECT_EQ(record()->repaints, repaints + 1);
}

TEST_F(SubsystemLoop, StalledClientRaisesAtMostOneStallAMinute) {
    record()->pictureCaptured = true;
    addClient();
    setInflight(31);
    mac_shadow_loop_turn(record(), now());
    const uint64_t start = now();
    runTurnsUntil(start + 59000);
    EXPECT_EQ(record()->stalls, 1u);
    EXPECT_EQ(LogLines::count("a client is 31 frames behind acknowledging"), 1u);
    EXPECT_EQ(LogLines::count("a client fell behind: repainting every 30 s"), 1u);
    EXPECT_EQ(record()->riskEvents, 1u);
    runTurnsUntil(start + 61100);
    EXPECT_EQ(record()->stalls, 2u);
}

TEST_F(SubsystemLoop, ClientsThatAcknowledgeOnlyGetTheInfoLine) {
    record()->pictureCaptured = true;
    addClient();
    setInflight(3);
    mac_shadow_loop_turn(record(), now());
    runTurnsUntil(now() + 25000);
    EXPECT_EQ(LogLines::count("not yet acknowledged by the slowest client: 3"), 3u);
    EXPECT_EQ(record()->stalls, 0u);
}

TEST_F(SubsystemLoop, IdleRemoteSessionLetsTheScreenSleep) {
    record()->idleAwakeMs = 60000;
    addClient();
    mac_shadow_loop_turn(record(), now());
    auto held = sim().simPower().heldAssertions();
    EXPECT_EQ(held.size(), 2u);
    runTurnsUntil(now() + 70000);
    held = sim().simPower().heldAssertions();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0], "system:Corvane: someone is signed in remotely");
    EXPECT_EQ(LogLines::count("no remote input for 1 min"), 1u);
    record()->inputSeen = true;
    turn();
    EXPECT_EQ(sim().simPower().heldAssertions().size(), 2u) << "the next input retakes it";
    removeClients();
    turn();
    EXPECT_TRUE(sim().simPower().heldAssertions().empty());
}

TEST_F(SubsystemLoop, InputDeclaresUserActivityEveryFewSeconds) {
    addClient();
    mac_shadow_loop_turn(record(), now());
    const size_t first = sim().simPower().declarations().size();
    runTurnsUntil(now() + 3000);
    EXPECT_EQ(sim().simPower().declarations().size(), first);
    runTurnsUntil(now() + 1100);
    EXPECT_GT(sim().simPower().declarations().size(), first);
}

TEST_F(SubsystemLoop, MessagesRefreshQuitAndUnknown) {
    record()->pictureCaptured = true;
    addClient();
    static int freed = 0;
    freed = 0;
    auto countFree = [](wMessage*) { ++freed; };
    wMessage refresh = {SHADOW_MSG_IN_REFRESH_REQUEST_ID, nullptr, nullptr, nullptr, 0, countFree};
    EXPECT_TRUE(mac_shadow_subsystem_process_message(record(), &refresh));
    EXPECT_EQ(publications(), 1);
    wMessage unknown = {4242, nullptr, nullptr, nullptr, 0, countFree};
    EXPECT_TRUE(mac_shadow_subsystem_process_message(record(), &unknown));
    EXPECT_EQ(LogLines::count("Unknown message id: 4242"), 1u);
    wMessage quit = {WMQ_QUIT, nullptr, nullptr, nullptr, 0, countFree};
    EXPECT_FALSE(mac_shadow_subsystem_process_message(record(), &quit));
    EXPECT_EQ(freed, 2) << "the quit message is not freed";
}

// A waiting plan is taken 300 ms after its request, but not within 2 s of
// the last resize, and never while tearing down.
TEST_F(SubsystemLoop, WaitingPlanIsTakenWhenItsTimeHasCome) {
    const struct {
        const char* what;
        uint64_t sinceResize; // 0: no resize yet
        bool tearingDown;
        uint64_t notYet, due; // ms after the request
    } cases[] = {
        {"300 ms after the request", 0, false, 200, 300},
        {"2 s after the last resize", 1, false, 1000, 2000},
        {"tearing down", 0, true, 5000, 0},
    };
    for (const auto& c : cases) {
        const uint64_t start = now();
        record()->lastResizeTick = c.sinceResize ? start : 0;
        record()->tearingDown = c.tearingDown ? 1 : 0;
        record()->resizePending = true;
        record()->resizeRequestTick = start;
        setNow(start + c.notYet);
        mac_shadow_loop_turn(record(), now());
        EXPECT_TRUE(record()->resizePending) << c.what;
        if (c.due) {
            setNow(start + c.due);
            mac_shadow_loop_turn(record(), now());
            EXPECT_FALSE(record()->resizePending) << c.what;
        }
        advance(10000);
    }
}

TEST_F(SubsystemLoop, LastClientGoneReturnsToTheRealScreenAfterFiveSeconds) {
    record()->virtualActive = true;
    mac_shadow_loop_turn(record(), now());
    const uint64_t lastLeft = now();
    while (!record()->resizePending && now() < lastLeft + 10000)
        turn();
    ASSERT_TRUE(record()->resizePending);
    EXPECT_GT(now() - lastLeft, 5000u);
    EXPECT_LE(now() - lastLeft, 5062u);
    EXPECT_EQ(record()->pendingPlan.count, 1u);
    EXPECT_EQ(record()->pendingPlan.width[0], 1280u);
    EXPECT_EQ(record()->pendingPlan.totalHeight, 800u);
    EXPECT_EQ(record()->pendingPlan.useVirtual, 0u);
    EXPECT_EQ(record()->resizeRequestTick, 0u);
    EXPECT_EQ(record()->resizeSerial, 1);
}

TEST_F(SubsystemLoop, KnownClientsAndPointerSizeClass) {
    auto* a = addClient();
    freerdp_settings_set_uint32(a->context.settings, FreeRDP_LargePointerFlag, 1);
    ClientScan scan = mac_shadow_scan_clients(record());
    EXPECT_TRUE(scan.newClient);
    EXPECT_EQ(scan.pointerSizeClass, 96u);
    scan = mac_shadow_scan_clients(record());
    EXPECT_FALSE(scan.newClient) << "seen last turn";
    addClient(false);
    scan = mac_shadow_scan_clients(record());
    EXPECT_EQ(scan.connected, 1);
    EXPECT_FALSE(scan.newClient) << "a client still connecting is not new";
    auto* b = addClient();
    freerdp_settings_set_uint32(b->context.settings, FreeRDP_LargePointerFlag, 0);
    b->suppressOutput = TRUE;
    scan = mac_shadow_scan_clients(record());
    EXPECT_EQ(scan.connected, 2);
    EXPECT_EQ(scan.active, 1);
    b->suppressOutput = FALSE;
    scan = mac_shadow_scan_clients(record());
    EXPECT_TRUE(scan.newClient);
    EXPECT_EQ(scan.pointerSizeClass, 32u);
}

class StatsFile : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        char pattern[] = "/tmp/corvane-stats-XXXXXX";
        dir_ = mkdtemp(pattern);
        path_ = dir_ + "/stats.json";
        setenv("MAC_SHADOW_STATS_FILE", path_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("MAC_SHADOW_STATS_FILE");
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
        CoreTest::TearDown();
    }
    std::string content() {
        FILE* f = std::fopen(path_.c_str(), "r");
        if (!f)
            return "";
        char buf[600] = {};
        const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        return std::string(buf, n);
    }
    std::string dir_, path_;
};

TEST_F(StatsFile, WrittenInTheFirstTurnThenEveryMinute) {
    mac_shadow_loop_turn(record(), now());
    EXPECT_EQ(content(), "{\"sessions\":0,\"repaints\":0,\"resizes\":0,\"riskEvents\":0,"
                         "\"stalls\":0,\"clients\":\"\"}\n");
    auto* c = addClient();
    freerdp_settings_set_uint32(c->context.settings, FreeRDP_OsMajorType, 4);
    addClient(false);
    runTurnsUntil(now() + 59000);
    EXPECT_NE(content().find("\"clients\":\"\""), std::string::npos) << "not rewritten yet";
    runTurnsUntil(now() + 1100);
    // Three scheduled repaints (4, 7 and 10 s) fell into the minute.
    EXPECT_EQ(content(), "{\"sessions\":1,\"repaints\":3,\"resizes\":0,\"riskEvents\":0,"
                         "\"stalls\":0,\"clients\":\"unix/nogfx\"}\n");
}

// Entries that do not fit end the list.
TEST(StatsClientsText, EntriesForOsCodecAndHiDpi) {
    const StatsClient clients[] = {{1, true, true}, {6, true, false}, {9, false, false}};
    char out[256];
    mac_shadow_stats_clients_text(clients, 3, true, out, sizeof out);
    EXPECT_STREQ(out, "windows/h264/hidpi,mac/no-h264/hidpi,other/nogfx/hidpi");
    mac_shadow_stats_clients_text(clients, 2, false, out, sizeof out);
    EXPECT_STREQ(out, "windows/h264,mac/no-h264");
    std::vector<StatsClient> many(40, StatsClient{8, true, false}); // "chromeos/no-h264"
    mac_shadow_stats_clients_text(many.data(), many.size(), false, out, sizeof out);
    EXPECT_EQ(strlen(out), 16u + 14u * 17u) << "fifteen whole entries";
    EXPECT_EQ(out[strlen(out) - 1], '4');
}
