// Retries of the X11 power service without a system bus, on a test clock.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/x11/x11_power.h"

using corvane::platform::AssertionKind;
using corvane::platform::Backoff;
using corvane::platform::x11::X11Power;
using namespace std::chrono_literals;

// 30 loop turns a second must not each open a bus connection: after a
// failure logind is asked again after 1 s, then 2, 4, ... at most 60 s.
TEST(LogindRetry, AMissingBusIsAskedAgainOnlyAfterAGrowingPause) {
    int attempts = 0;
    bool busUp = false;
    Backoff::Clock::time_point now{};
    X11Power power(
        [&](const char* what, std::string_view) {
            ++attempts;
            EXPECT_STREQ(what, "sleep");
            return busUp ? open("/dev/null", O_RDONLY | O_CLOEXEC) : -1;
        },
        [&] { return now; });
    auto turns = [&](int count) {
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(power.createAssertion(AssertionKind::PreventSystemSleep, "remote"), 0u);
    };
    turns(30);
    EXPECT_EQ(attempts, 1);
    const struct {
        std::chrono::milliseconds advance;
        int attemptsAfter;
    } steps[] = {{999ms, 1}, {1ms, 2}, {1999ms, 2}, {1ms, 3}, {4s, 4}, {8s, 5},
                 {16s, 6},   {32s, 7}, {59s, 7},    {1s, 8},  {60s, 9}};
    for (const auto& step : steps) {
        now += step.advance;
        turns(3);
        EXPECT_EQ(attempts, step.attemptsAfter) << "after " << step.advance.count() << " ms";
    }
    busUp = true;
    now += 60s;
    const uint32_t id = power.createAssertion(AssertionKind::PreventSystemSleep, "remote");
    EXPECT_NE(id, 0u);
    power.releaseAssertion(id);
    busUp = false;
    turns(1);
    EXPECT_EQ(attempts, 11) << "a success starts the schedule afresh";
    now += 1s;
    turns(1);
    EXPECT_EQ(attempts, 12);
}
