// Who gets the desktop once logged in: settings, presence, arrival, the
// prompt's timeout, the reconnect grace and the lock on leave.
#include <gtest/gtest.h>

#include "mac_logic.h"

namespace {

TEST(ClientAdmission, SettingsTakeTheirWordsAndFallBackOnAnythingElse) {
    struct Case {
        const char* value;
        int32_t taken, mode;
    };
    for (const Case& c :
         {Case{nullptr, 1, MAC_ASK_ALLOW}, Case{"", 1, MAC_ASK_ALLOW},
          Case{"allow", 1, MAC_ASK_ALLOW}, Case{"ask", 1, MAC_ASK_ASK},
          Case{"ask-unless-away", 1, MAC_ASK_UNLESS_AWAY}, Case{"Ask", 0, MAC_ASK_ALLOW},
          Case{"ask ", 0, MAC_ASK_ALLOW}, Case{"yes", 0, MAC_ASK_ALLOW}}) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        int32_t mode = -1;
        EXPECT_EQ(mac_logic_ask_mode(c.value, &mode), c.taken);
        EXPECT_EQ(mode, c.mode);
    }
    for (const Case& c : {Case{nullptr, 1, MAC_LOCK_AUTO}, Case{"auto", 1, MAC_LOCK_AUTO},
                          Case{"on", 1, MAC_LOCK_ON}, Case{"off", 1, MAC_LOCK_OFF},
                          Case{"1", 0, MAC_LOCK_AUTO}, Case{"OFF", 0, MAC_LOCK_AUTO}}) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        int32_t mode = -1;
        EXPECT_EQ(mac_logic_lock_on_leave_mode(c.value, &mode), c.taken);
        EXPECT_EQ(mode, c.mode);
    }
    struct Seconds {
        const char* value;
        int32_t taken;
        uint32_t out;
    };
    for (const Seconds& c :
         {Seconds{nullptr, 1, 30}, Seconds{"", 1, 30}, Seconds{"5", 1, 5}, Seconds{"600", 1, 600},
          Seconds{"4", 0, 30}, Seconds{"601", 0, 30}, Seconds{"99999999999999999999", 0, 30},
          Seconds{"-5", 0, 30}, Seconds{"10s", 0, 30}, Seconds{" 10", 0, 30}}) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        uint32_t out = 0;
        EXPECT_EQ(mac_logic_seconds_value(c.value, MAC_ASK_TIMEOUT_MIN_S, MAC_ASK_TIMEOUT_MAX_S,
                                          MAC_ASK_TIMEOUT_DEFAULT_S, &out),
                  c.taken);
        EXPECT_EQ(out, c.out);
    }
}

TEST(ClientAdmission, NobodyIsThereWhenLockedOrIdleLongEnough) {
    struct Case {
        const char* what;
        MacPresence p;
        int32_t nobody;
    };
    const uint64_t away = 300000;
    for (const Case& c : {
             Case{"nothing known", {0, 0, 0, 0}, 0},
             Case{"locked", {1, 1, 1, 0}, 1},
             Case{"locked, idle unknown", {1, 1, 0, 0}, 1},
             Case{"unlocked and busy", {1, 0, 1, 1000}, 0},
             Case{"idle just short", {1, 0, 1, away - 1}, 0},
             Case{"idle exactly the set time", {1, 0, 1, away}, 1},
             Case{"idle, lock unknown", {0, 0, 1, away + 1}, 1},
             Case{"an unknown lock says nothing", {0, 1, 1, 0}, 0},
             Case{"an unknown idle time says nothing", {1, 0, 0, away * 2}, 0},
         }) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(mac_logic_nobody_at_desktop(&c.p, away), c.nobody);
    }
    EXPECT_EQ(mac_logic_nobody_at_desktop(nullptr, 0), 0);
}

TEST(ClientAdmission, ArrivalAndTimeoutFollowTheSetting) {
    struct Case {
        int32_t mode, grace, nobody, reader, arrival, timeoutAllows;
    };
    for (const Case& c : {
             Case{MAC_ASK_ALLOW, 0, 0, 0, MAC_ARRIVAL_LET_IN, 0},
             Case{MAC_ASK_ALLOW, 1, 1, 1, MAC_ARRIVAL_LET_IN, 0},
             Case{MAC_ASK_ASK, 0, 0, 1, MAC_ARRIVAL_PROMPT, 0},
             Case{MAC_ASK_ASK, 0, 1, 1, MAC_ARRIVAL_PROMPT, 0},
             Case{MAC_ASK_ASK, 0, 0, 0, MAC_ARRIVAL_REFUSE_NO_READER, 0},
             Case{MAC_ASK_ASK, 1, 0, 0, MAC_ARRIVAL_GRACE, 0},
             Case{MAC_ASK_UNLESS_AWAY, 0, 0, 1, MAC_ARRIVAL_PROMPT, 0},
             Case{MAC_ASK_UNLESS_AWAY, 0, 1, 1, MAC_ARRIVAL_AWAY, 1},
             Case{MAC_ASK_UNLESS_AWAY, 0, 1, 0, MAC_ARRIVAL_AWAY, 1},
             Case{MAC_ASK_UNLESS_AWAY, 0, 0, 0, MAC_ARRIVAL_REFUSE_NO_READER, 0},
             Case{MAC_ASK_UNLESS_AWAY, 1, 0, 1, MAC_ARRIVAL_GRACE, 0},
         }) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " grace " << c.grace << " nobody "
                                        << c.nobody << " reader " << c.reader);
        EXPECT_EQ(mac_logic_arrival(c.mode, c.grace, c.nobody, c.reader), c.arrival);
        EXPECT_EQ(mac_logic_timeout_allows(c.mode, c.nobody), c.timeoutAllows);
    }
}

// Alice left 10.0.0.5 at t, ending as `end`; who comes back from where, when.
TEST(ClientAdmission, ReconnectGraceOnlyAfterADropBySameAccountAndAddress) {
    const uint64_t t = 1000000;
    struct Case {
        const char* what;
        int32_t end;
        const char *account, *address;
        uint64_t now;
        int32_t grace;
    };
    for (const Case& c : {
             Case{"back at once", MAC_END_DROPPED, "alice", "10.0.0.5", t, 1},
             Case{"back after exactly 60 s", MAC_END_DROPPED, "alice", "10.0.0.5",
                  t + MAC_RECONNECT_GRACE_MS, 1},
             Case{"a moment too late", MAC_END_DROPPED, "alice", "10.0.0.5",
                  t + MAC_RECONNECT_GRACE_MS + 1, 0},
             Case{"another account", MAC_END_DROPPED, "bob", "10.0.0.5", t + 1, 0},
             Case{"another address", MAC_END_DROPPED, "alice", "10.0.0.6", t + 1, 0},
             Case{"after a refusal", MAC_END_REFUSED, "alice", "10.0.0.5", t + 1, 0},
             Case{"after the host disconnected it", MAC_END_HOST, "alice", "10.0.0.5", t + 1, 0},
             Case{"a clock before the drop", MAC_END_DROPPED, "alice", "10.0.0.5", t - 1, 0},
         }) {
        SCOPED_TRACE(c.what);
        MacLeaving l = {"alice", "10.0.0.5", t, c.end, 0};
        EXPECT_EQ(mac_logic_reconnect_grace(&l, c.account, c.address, c.now), c.grace);
    }
    MacLeaving noAddress = {"alice", "", t, MAC_END_DROPPED, 0};
    EXPECT_EQ(mac_logic_reconnect_grace(&noAddress, "alice", "", t), 0) << "no address, no match";
    EXPECT_EQ(mac_logic_reconnect_grace(nullptr, "alice", "10.0.0.5", t), 0);
}

TEST(ClientAdmission, LockOnLeave) {
    struct Case {
        int32_t setting, nobody, lock;
    };
    for (const Case& c :
         {Case{MAC_LOCK_ON, 0, 1}, Case{MAC_LOCK_ON, 1, 1}, Case{MAC_LOCK_OFF, 1, 0},
          Case{MAC_LOCK_OFF, 0, 0}, Case{MAC_LOCK_AUTO, 1, 1}, Case{MAC_LOCK_AUTO, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << "setting " << c.setting << " nobody " << c.nobody);
        EXPECT_EQ(mac_logic_lock_on_leave(c.setting, c.nobody), c.lock);
    }
}

} // namespace
