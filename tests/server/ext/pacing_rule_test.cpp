// Frames paced by acknowledgements, on a simulated clock: the server
// publishes changes every 16 ms, each client acknowledges each frame a fixed
// time after it went out (or never) or after its link carried it, and a
// release publishes again at once.
#include <algorithm>
#include <deque>
#include <set>

#include <gtest/gtest.h>

#include "server/shadow/ext/pacing_rule.h"

namespace {

constexpr uint64_t kPublishEveryMs = 16;

// One client: its rule, the changes waiting for it (the library's invalid
// region, as change numbers) and what it has been sent. A limit of 0 lets
// the rule choose it.
struct Client {
    explicit Client(uint32_t limit, uint64_t ackAfterMs, bool acks = true)
        : ackAfter(ackAfterMs), acknowledges(acks) {
        if (limit != 0)
            rule.limit = rule.leastLimit = rule.mostLimit = limit;
    }
    ShadowExtPacingRule rule;
    uint64_t ackAfter;
    bool acknowledges;
    // A link that carries one frame at a time, each for `transmitMs`; the
    // acknowledgement comes `ackAfter` after the frame got through.
    uint64_t transmitMs = 0;
    uint64_t linkFreeAt = 0;
    uint64_t worstQueueMs = 0; // since the last reset: the longest a frame waited for the link
    int bigEvery = 0;          // every this many frames takes four times as long
    uint32_t nextId = 100;
    std::set<int> waiting;
    std::deque<std::pair<uint64_t, uint32_t>> unacked; // (ack time, frame id)
    int frames = 0;
    uint32_t mostInflight = 0;
    std::set<int> delivered;
    int deliveredTwice = 0;
    int newestDelivered = -1;

    void update(uint64_t now, int change) {
        if (change >= 0)
            waiting.insert(change);
        if (waiting.empty() || shadow_ext_pacing_rule_offer(&rule, now) == SHADOW_EXT_PACING_HOLD)
            return;
        for (int c : waiting)
            deliveredTwice += delivered.insert(c).second ? 0 : 1;
        newestDelivered = std::max(newestDelivered, *waiting.rbegin());
        waiting.clear();
        frames += 1;
        shadow_ext_pacing_rule_sent(&rule, nextId, now);
        const uint64_t passage = bigEvery && nextId % bigEvery == 0 ? 4 * transmitMs : transmitMs;
        const uint64_t through = std::max(now, linkFreeAt) + passage;
        worstQueueMs = std::max(worstQueueMs, through - passage - now);
        linkFreeAt = through;
        if (acknowledges)
            unacked.emplace_back(through + ackAfter, nextId);
        nextId += 1;
        mostInflight = std::max(mostInflight, shadow_ext_pacing_rule_inflight(&rule));
    }
    // Acknowledgements due by `now`; true when held changes are to go.
    bool acknowledge(uint64_t now) {
        bool release = false;
        while (!unacked.empty() && unacked.front().first <= now) {
            release |= shadow_ext_pacing_rule_acked(&rule, unacked.front().second, false, now);
            unacked.pop_front();
        }
        return release;
    }
};

// Publishes a change every 16 ms for `changesMs`, then runs on quiet for a
// second so that whatever waits can go out.
void run(std::vector<Client*> clients, uint64_t changesMs, uint64_t from = 0) {
    int change = static_cast<int>(from / kPublishEveryMs);
    for (uint64_t now = from; now < from + changesMs + 1000; ++now) {
        bool publish = false;
        for (Client* c : clients)
            publish |= c->acknowledge(now);
        const bool changed = now < from + changesMs && now % kPublishEveryMs == 0;
        if (changed || publish) {
            for (Client* c : clients)
                c->update(now, changed ? change : -1);
            change += changed ? 1 : 0;
        }
    }
}

int changesIn(uint64_t ms) {
    return static_cast<int>((ms + kPublishEveryMs - 1) / kPublishEveryMs);
}

// A rule whose limit stays at two, whatever the round trip.
ShadowExtPacingRule fixedAtTwo() {
    ShadowExtPacingRule rule;
    rule.limit = rule.leastLimit = rule.mostLimit = 2;
    return rule;
}

// A rule at its limit of two: `first` went out and was acknowledged, the two
// frames after it (at 10 and 20 ms) are in flight.
ShadowExtPacingRule atLimit(uint32_t first) {
    ShadowExtPacingRule rule = fixedAtTwo();
    shadow_ext_pacing_rule_sent(&rule, first, 0);
    shadow_ext_pacing_rule_acked(&rule, first, false, 5);
    shadow_ext_pacing_rule_sent(&rule, first + 1, 10);
    shadow_ext_pacing_rule_sent(&rule, first + 2, 20);
    return rule;
}

} // namespace

// Whatever the client's speed and the limit, it never has more frames in
// flight than the limit, every change reaches it exactly once, and the last
// picture it gets is the newest.
TEST(PacingRule, InFlightStaysWithinTheLimitAndEveryChangeArrivesOnce) {
    struct Case {
        uint32_t limit;
        uint64_t ackAfterMs;
        int fewestFrames, mostFrames; // of the 2 s burst's 125 changes
    };
    const Case cases[] = {
        {2, 5, 125, 125}, // faster than the changes: every one is a frame
        {2, 40, 95, 105}, // two per round trip of 40 ms: one each 20 ms
        {1, 40, 45, 55},  // one frame per round trip
        {2, 100, 38, 45}, // two per round trip of 100 ms
        {3, 100, 58, 65}, {2, 500, 8, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "limit " << c.limit << ", ack after " << c.ackAfterMs);
        Client client(c.limit, c.ackAfterMs);
        run({&client}, 2000);
        EXPECT_LE(client.mostInflight, c.limit);
        EXPECT_EQ(client.delivered.size(), size_t(changesIn(2000)));
        EXPECT_EQ(client.deliveredTwice, 0);
        EXPECT_EQ(client.newestDelivered, changesIn(2000) - 1);
        EXPECT_TRUE(client.waiting.empty());
        EXPECT_GE(client.frames, c.fewestFrames);
        EXPECT_LE(client.frames, c.mostFrames);
    }
}

// The limit follows the link: a long round trip with room climbs to the most
// frames in flight; a link or a client slower than the changes gets about as
// many frames as it carries, none of them waiting long behind others (a fixed
// limit of six: five frames), also when a link that had room gets slow, and
// when some frames are much bigger than the rest.
TEST(PacingRule, TheLimitFollowsTheLink) {
    struct Case {
        const char* link;
        uint64_t ackAfterMs, transmitMs;
        uint64_t slowerTransmitMs;      // then, for as long again (0: not)
        int bigEvery;                   // every this many frames four times as long (0: none)
        uint32_t leastLimit, mostLimit; // where it ends
        uint64_t worstQueueMs;          // over the last two seconds
        int fewestFrames;               // of those two seconds
    };
    const Case cases[] = {
        {"100 ms away, room for every change", 100, 2, 0, 0, 6, 6, 0, 100},
        {"100 ms away, 74 ms a frame (5 Mbit/s)", 100, 74, 0, 0, 2, 4, 2 * 74, 24},
        {"10 ms away, a client taking 40 ms a frame", 10, 40, 0, 0, 2, 3, 2 * 40, 45},
        {"1 ms away, 5 ms a frame (loopback)", 1, 5, 0, 0, 2, 6, 5, 120},
        {"100 ms away, room, then 74 ms a frame", 100, 2, 74, 0, 2, 4, 2 * 74, 24},
        {"100 ms away, 30 ms a frame, every fourth 120 ms", 100, 30, 0, 4, 2, 6, 2 * 120, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        Client client(0, c.ackAfterMs);
        client.transmitMs = c.transmitMs;
        client.bigEvery = c.bigEvery;
        // Longer than the round trip's window: a queue must not pass for
        // the link's own round trip as the window moves on.
        run({&client}, 12000);
        uint64_t from = 13000;
        if (c.slowerTransmitMs != 0) {
            EXPECT_EQ(client.rule.limit, kShadowExtPacingMostLimit) << "before the link slowed";
            client.transmitMs = c.slowerTransmitMs;
            run({&client}, 4000, from);
            from += 5000;
        }
        client.worstQueueMs = 0;
        client.mostInflight = 0;
        client.frames = 0;
        run({&client}, 2000, from);
        EXPECT_GE(client.rule.limit, c.leastLimit);
        EXPECT_LE(client.rule.limit, c.mostLimit);
        EXPECT_LE(client.mostInflight, kShadowExtPacingMostLimit);
        EXPECT_LE(client.worstQueueMs, c.worstQueueMs);
        EXPECT_GE(client.frames, c.fewestFrames);
        EXPECT_EQ(client.deliveredTwice, 0);
        EXPECT_TRUE(client.waiting.empty());
    }
}

// Changes held while the client is at its limit go out in one frame on the
// late acknowledgement that makes room, and only once.
TEST(PacingRule, ALateAcknowledgementSendsTheHeldChangesOnce) {
    ShadowExtPacingRule rule = fixedAtTwo();
    shadow_ext_pacing_rule_sent(&rule, 1, 0);
    EXPECT_FALSE(shadow_ext_pacing_rule_acked(&rule, 1, false, 10)); // nothing held
    shadow_ext_pacing_rule_sent(&rule, 2, 20);
    shadow_ext_pacing_rule_sent(&rule, 3, 30);
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&rule, 40), SHADOW_EXT_PACING_HOLD);
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&rule, 56), SHADOW_EXT_PACING_HOLD);
    EXPECT_TRUE(shadow_ext_pacing_rule_acked(&rule, 2, false, 900));
    EXPECT_FALSE(shadow_ext_pacing_rule_acked(&rule, 3, false, 901)) << "released once";
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&rule, 902), SHADOW_EXT_PACING_SEND);

    // After a silence past the patience frames flow unpaced; acknowledgements
    // that leave the client at its limit then free nothing.
    ShadowExtPacingRule lapsed = fixedAtTwo();
    shadow_ext_pacing_rule_sent(&lapsed, 1, 0);
    shadow_ext_pacing_rule_sent(&lapsed, 2, 1);
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&lapsed, 2), SHADOW_EXT_PACING_HOLD) << "from the start";
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&lapsed, 1 + kShadowExtPacingPatienceMs),
              SHADOW_EXT_PACING_SEND);
    shadow_ext_pacing_rule_sent(&lapsed, 3, 1 + kShadowExtPacingPatienceMs);
    shadow_ext_pacing_rule_sent(&lapsed, 4, 2 + kShadowExtPacingPatienceMs);
    EXPECT_FALSE(shadow_ext_pacing_rule_acked(&lapsed, 1, false, 3000));
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&lapsed, 3001), SHADOW_EXT_PACING_HOLD);
    EXPECT_FALSE(shadow_ext_pacing_rule_acked(&lapsed, 2, false, 3002));
    EXPECT_TRUE(shadow_ext_pacing_rule_acked(&lapsed, 3, false, 3003));
}

// Two clients on the same publications: each gets frames at its own rate,
// and the fast one exactly as many as it gets alone.
TEST(PacingRule, TwoClientsAtDifferentSpeedsEachGetTheirOwnRate) {
    Client fastAlone(2, 10);
    run({&fastAlone}, 3000);
    Client fast(2, 10), slow(2, 200);
    run({&fast, &slow}, 3000);
    EXPECT_EQ(fast.frames, fastAlone.frames);
    EXPECT_EQ(fast.frames, changesIn(3000));
    EXPECT_LE(slow.frames, 2 * 3000 / 200 + 2);
    EXPECT_GE(slow.frames, 3000 / 200);
    EXPECT_LE(slow.mostInflight, 2u);
    EXPECT_EQ(slow.delivered.size(), size_t(changesIn(3000)));
}

// Clients that do not acknowledge frames get every one: those that said
// they stop at once, those that never did or went silent after the patience.
TEST(PacingRule, ClientsThatDoNotAcknowledgeGetEveryFrame) {
    // Held for the patience once, then every frame.
    Client never(2, 0, false);
    run({&never}, 5000);
    const int heldOnce = static_cast<int>(kShadowExtPacingPatienceMs / kPublishEveryMs);
    EXPECT_GE(never.frames, changesIn(5000) - heldOnce - 1);
    EXPECT_EQ(never.delivered.size(), size_t(changesIn(5000)));

    ShadowExtPacingRule stopped = atLimit(1);
    ASSERT_EQ(shadow_ext_pacing_rule_offer(&stopped, 30), SHADOW_EXT_PACING_HOLD);
    EXPECT_TRUE(shadow_ext_pacing_rule_acked(&stopped, 3, true, 40)) << "held changes go";
    for (uint32_t id = 4; id < 10; ++id) {
        EXPECT_EQ(shadow_ext_pacing_rule_offer(&stopped, 40 + id), SHADOW_EXT_PACING_SEND);
        shadow_ext_pacing_rule_sent(&stopped, id, 40 + id);
    }

    ShadowExtPacingRule silent = atLimit(1);
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&silent, 20 + kShadowExtPacingPatienceMs - 1),
              SHADOW_EXT_PACING_HOLD);
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&silent, 20 + kShadowExtPacingPatienceMs),
              SHADOW_EXT_PACING_SEND);
    shadow_ext_pacing_rule_sent(&silent, 4, 20 + kShadowExtPacingPatienceMs);
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&silent, 30 + kShadowExtPacingPatienceMs),
              SHADOW_EXT_PACING_SEND);
    // Its next acknowledgement paces it again.
    shadow_ext_pacing_rule_acked(&silent, 2, false, 40 + kShadowExtPacingPatienceMs);
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&silent, 50 + kShadowExtPacingPatienceMs),
              SHADOW_EXT_PACING_HOLD);
}

// Frame ids that wrap past 2^32, and a library that numbers afresh (a new
// encoder after a resize), neither stall nor unpace the client.
TEST(PacingRule, FrameIdsThatWrapOrStartAgain) {
    ShadowExtPacingRule rule = atLimit(0xFFFFFFFE); // then 0xFFFFFFFF and 0
    EXPECT_EQ(shadow_ext_pacing_rule_inflight(&rule), 2u);
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&rule, 30), SHADOW_EXT_PACING_HOLD);
    EXPECT_TRUE(shadow_ext_pacing_rule_acked(&rule, 0xFFFFFFFF, false, 31));

    ShadowExtPacingRule renumbered = atLimit(5000);
    ASSERT_EQ(shadow_ext_pacing_rule_offer(&renumbered, 30), SHADOW_EXT_PACING_HOLD);
    shadow_ext_pacing_rule_sent(&renumbered, 1, 31); // a new encoder numbers afresh
    EXPECT_EQ(shadow_ext_pacing_rule_inflight(&renumbered), 1u);
    EXPECT_EQ(shadow_ext_pacing_rule_offer(&renumbered, 32), SHADOW_EXT_PACING_SEND);
    EXPECT_FALSE(shadow_ext_pacing_rule_acked(&renumbered, 5002, false, 33)) << "an old id";
    EXPECT_EQ(shadow_ext_pacing_rule_inflight(&renumbered), 1u);
}
