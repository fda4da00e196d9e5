// The bench's shaped link: when each piece arrives, and the texts that set
// the link up.
#include <gtest/gtest.h>

#include "bench/link/link_model.h"

TEST(LinkModel, PiecesQueueBehindTheBottleneckThenTakeTheDelay) {
    // 8 Mbit/s: a byte takes 1 us. 20 ms each way.
    struct Step {
        uint64_t now;
        size_t bytes;
        uint64_t arrives;
    } const steps[] = {
        {0, 1000, 1000 + 20'000},          // an idle link: sent at once
        {0, 1000, 2000 + 20'000},          // behind the first
        {500, 1, 2001 + 20'000},           // still queued
        {10'000, 1448, 11'448 + 20'000},   // the link went idle again
        {10'000, 0, 11'448 + 20'000},      // an empty piece takes no time
    };
    LinkModel link{8'000'000, 20'000};
    for (const Step& s : steps)
        EXPECT_EQ(link.arrival(s.now, s.bytes), s.arrives) << s.now << " +" << s.bytes;
}

TEST(LinkModel, ASendingTimeIsRoundedUpNotLost) {
    LinkModel link{5'000'000, 0}; // 1 byte: 1.6 us
    uint64_t last = 0;
    for (int i = 0; i < 10; ++i)
        last = link.arrival(0, 1);
    EXPECT_EQ(last, 20u) << "ten 1-byte pieces at 2 us each";
}

TEST(LinkModel, RatesAndDurationsAsWritten) {
    struct Rate {
        const char* text;
        uint64_t bits;
    } const rates[] = {{"20mbit", 20'000'000}, {"512kbit", 512'000}, {"2.5mbit", 2'500'000},
                       {"5000000", 5'000'000}, {"1gbit", 1'000'000'000},
                       {"20MB", 0},            {"fast", 0},          {"", 0}, {"-1mbit", 0}};
    for (const Rate& r : rates)
        EXPECT_EQ(parseRate(r.text), r.bits) << r.text;
    struct Duration {
        const char* text;
        bool ok;
        uint64_t us;
    } const durations[] = {{"20ms", true, 20'000}, {"1s", true, 1'000'000},
                           {"500us", true, 500},   {"0ms", true, 0},
                           {"20", false, 0},       {"ms", false, 0},
                           {"20 ms", false, 0}};
    for (const Duration& d : durations) {
        uint64_t us = 0;
        EXPECT_EQ(parseDuration(d.text, &us), d.ok) << d.text;
        EXPECT_EQ(us, d.ok ? d.us : 0) << d.text;
    }
}
