// Termination runs once and gives everything back; waking the screen.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include "core_fixture.h"
#include "server/shadow/Mac/core/terminate.h"
#include "server/shadow/Mac/loop/power.h"

namespace {
// The handler may run on the termination thread.
std::atomic<int> gExits{0};
std::atomic<int> gLastStatus{-1};
void recordExit(int status) {
    ++gExits;
    gLastStatus = status;
}
} // namespace

class Termination : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        gExits = 0;
        gLastStatus = -1;
        mac_shadow_set_process_exit(recordExit);
        mac_shadow_reset_terminating_for_tests();
    }
    void TearDown() override {
        mac_shadow_set_process_exit(nullptr);
        mac_shadow_reset_terminating_for_tests();
        CoreTest::TearDown();
    }
};

TEST_F(Termination, TwoSignalsGiveOneTeardown) {
    mac_shadow_keep_awake(record(), true, true);
    ASSERT_EQ(sim().simPower().heldAssertions().size(), 2u);
    mac_shadow_on_terminate("SIGTERM");
    mac_shadow_on_terminate("SIGTERM");
    EXPECT_EQ(gExits, 1);
    EXPECT_EQ(gLastStatus, 0);
    EXPECT_EQ(LogLines::count("SIGTERM: stopping"), 1u);
    EXPECT_EQ(LogLines::count("SIGTERM: server exiting"), 1u);
    EXPECT_EQ(LogLines::count("giving the Mac its own screen back"), 0u)
        << "only the real screen was shared";
    EXPECT_TRUE(sim().simPower().heldAssertions().empty());
    EXPECT_EQ(record()->tearingDown.load(), 1);
    EXPECT_EQ(sim().simEvents().releaseAllCount(), 1) << "nothing stays pressed";
    mac_shadow_keep_awake(record(), true, true); // a late turn of the subsystem thread
    EXPECT_TRUE(sim().simPower().heldAssertions().empty()) << "not taken again after teardown";
}

TEST_F(Termination, EachSignalIsNamedThroughTheRealHandlers) {
    unsetenv("MAC_SHADOW_PARENT_WATCH");
    ASSERT_TRUE(mac_shadow_install_termination());
    const struct {
        int signal;
        const char* name;
    } cases[] = {{SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}, {SIGTERM, "SIGTERM"}};
    for (const auto& c : cases) {
        gExits = 0;
        mac_shadow_reset_terminating_for_tests();
        LogLines::clear();
        ASSERT_EQ(raise(c.signal), 0);
        ASSERT_TRUE(waitUntilTrue([] { return gExits.load() == 1; })) << c.name;
        EXPECT_EQ(LogLines::count(std::string(c.name) + ": stopping"), 1u) << c.name;
        EXPECT_EQ(LogLines::count(std::string(c.name) + ": server exiting"), 1u) << c.name;
        EXPECT_EQ(gLastStatus, 0);
    }
}

TEST_F(Termination, VirtualDesktopIsGivenBackBetweenTheTwoLines) {
    record()->virtualActive = true;
    record()->virtualCount = 2;
    mac_shadow_on_terminate("SIGINT");
    const auto lines = LogLines::take();
    std::vector<std::string> ours;
    for (const auto& l : lines)
        if (l.rfind("SIGINT", 0) == 0)
            ours.push_back(l);
    ASSERT_EQ(ours.size(), 3u);
    EXPECT_EQ(ours[0], "SIGINT: stopping");
    EXPECT_EQ(ours[1], "SIGINT: giving the Mac its own screen back");
    EXPECT_EQ(ours[2], "SIGINT: server exiting");
    EXPECT_EQ(record()->virtualCount, 0);
    EXPECT_FALSE(record()->virtualActive);
}

TEST_F(Termination, SleepingScreenIsWokenBeforeGivingBack) {
    record()->virtualActive = true;
    sim().simPower().setAsleep(true);
    sim().simPower().setWakeAfter(-1);
    mac_shadow_teardown(record(), "server stopping");
    EXPECT_EQ(LogLines::count("the Mac's screen is still asleep: removing the virtual displays"),
              1u);
    EXPECT_FALSE(record()->virtualActive) << "removed anyway";
    EXPECT_EQ(gExits, 0) << "a teardown alone does not end the process";
}

class ScreenWake : public CoreTest {};

TEST_F(ScreenWake, AwakeScreenStillDeclaresUserActivity) {
    EXPECT_EQ(mac_shadow_wake_display(), 0);
    const auto d = sim().simPower().declarations();
    ASSERT_EQ(d.size(), 1u);
    EXPECT_EQ(d[0], "user:Corvane remote session");
}

TEST_F(ScreenWake, SleepingScreenWokenByActivity) {
    sim().simPower().setAsleep(true);
    sim().simPower().setWakeAfter(0);
    EXPECT_EQ(mac_shadow_wake_display(), 1);
    EXPECT_EQ(LogLines::count("the Mac's screen was asleep: woke it"), 1u);
    EXPECT_EQ(sim().simPower().nudges(), 0);
    const auto d = sim().simPower().declarations();
    ASSERT_GE(d.size(), 2u);
    EXPECT_EQ(d[0], "system:Corvane: a client connected");
}

TEST_F(ScreenWake, ScreenThatIgnoresEverything) {
    sim().simPower().setAsleep(true);
    sim().simPower().setWakeAfter(-1);
    const uint64_t start = now();
    EXPECT_EQ(mac_shadow_wake_display(), 1);
    EXPECT_EQ(sim().simPower().nudges(), 1) << "the pointer nudge follows the declarations";
    EXPECT_EQ(LogLines::count("could not wake it"), 1u);
    EXPECT_GE(now() - start, 8000u + 300u) << "two rounds of 40 looks, then 300 ms";
}

TEST_F(ScreenWake, KeepAwakeTakesAndReleasesEachAssertion) {
    mac_shadow_keep_awake(record(), false, true);
    EXPECT_EQ(sim().simPower().heldAssertions(),
              std::vector<std::string>{"system:Corvane: someone is signed in remotely"});
    mac_shadow_keep_awake(record(), true, true);
    EXPECT_EQ(sim().simPower().heldAssertions().size(), 2u);
    mac_shadow_keep_awake(record(), true, true);
    EXPECT_EQ(sim().simPower().heldAssertions().size(), 2u) << "no second copy";
    mac_shadow_keep_awake(record(), false, false);
    EXPECT_TRUE(sim().simPower().heldAssertions().empty());
    EXPECT_EQ(record()->systemAssertionId, 0u);
    sim().simPower().setAssertionsFail(true);
    mac_shadow_keep_awake(record(), true, true);
    EXPECT_FALSE(record()->displayAssertionHeld);
    sim().simPower().setAssertionsFail(false);
    mac_shadow_keep_awake(record(), true, true);
    EXPECT_TRUE(record()->displayAssertionHeld) << "retried on the next call";
}
