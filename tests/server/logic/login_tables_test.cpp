#include "mac_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace {

constexpr uint64_t kStart = 10000000; // well past the first hour of the tick counter

std::string addressNumber(int i) {
    return "10.0.0." + std::to_string(i);
}

class ConnLimit : public ::testing::Test {
  protected:
    std::unique_ptr<MacConnTable> table = std::make_unique<MacConnTable>();
    int32_t allow(const std::string& address, uint64_t now) {
        return mac_logic_conn_allow(table.get(), address.c_str(), now);
    }
};

class Lockout : public ::testing::Test {
  protected:
    std::unique_ptr<MacLockoutTable> table = std::make_unique<MacLockoutTable>();
    uint64_t fail(const std::string& address, uint64_t now) {
        return mac_logic_auth_failed(table.get(), address.c_str(), now);
    }
    uint64_t remaining(const std::string& address, uint64_t now) {
        return mac_logic_lockout_remaining(table.get(), address.c_str(), now);
    }
    int32_t failures(const std::string& address) {
        return mac_logic_lockout_failures(table.get(), address.c_str());
    }
};

} // namespace

// Fifteen a minute from one address; exactly a minute later, or with the
// clock before the window, a new window starts.
TEST_F(ConnLimit, WindowRestartsAfterAMinuteOrWhenTheClockGoesBack) {
    for (const uint64_t later : {kStart + 60000, kStart - 1}) {
        table = std::make_unique<MacConnTable>();
        for (int i = 0; i < 15; i++)
            EXPECT_EQ(allow("192.0.2.1", kStart), 1);
        EXPECT_EQ(allow("192.0.2.1", kStart + 59999), 0);
        EXPECT_EQ(allow("192.0.2.1", later), 1) << later - kStart;
    }
}

// Addresses of 64 characters or more, empty ones and missing arguments are
// never limited nor tracked; 63 characters are.
TEST_F(ConnLimit, UntrackableAddressesAreAlwaysAllowed) {
    const std::string longAddress(64, 'a');
    for (int i = 0; i < 30; i++) {
        EXPECT_EQ(allow(longAddress, kStart), 1);
        EXPECT_EQ(allow("", kStart), 1);
        EXPECT_EQ(mac_logic_conn_allow(table.get(), nullptr, kStart), 1);
        EXPECT_EQ(mac_logic_conn_allow(nullptr, "192.0.2.1", kStart), 1);
    }
    for (const MacConnEntry& e : table->entries)
        EXPECT_EQ(e.address[0], '\0');
    const std::string address(63, 'b');
    for (int i = 0; i < 15; i++)
        EXPECT_EQ(allow(address, kStart), 1);
    EXPECT_EQ(allow(address, kStart), 0);
}

TEST_F(ConnLimit, FullTableGivesTheOldestWindowAway) {
    for (int i = 0; i < MAC_LOGIN_TABLE_SIZE; i++)
        allow(addressNumber(i), kStart + 100 - (i == 5 ? 100 : 0));
    for (int i = 0; i < 15; i++)
        allow(addressNumber(0), kStart + 100); // fills the first entry's window
    EXPECT_EQ(allow("198.51.100.9", kStart + 200), 1);
    EXPECT_STREQ(table->entries[5].address, "198.51.100.9");
    EXPECT_EQ(table->entries[5].count, 1);
    EXPECT_EQ(table->entries[5].windowStart, kStart + 200);
    EXPECT_EQ(allow(addressNumber(0), kStart + 300), 0); // still tracked
}

TEST_F(Lockout, FailureCountDoesNotWrapAround) {
    fail("192.0.2.1", kStart);
    table->entries[0].failures = INT32_MAX;
    EXPECT_EQ(fail("192.0.2.1", kStart + 1), MAC_LOCKOUT_MAX_MS);
    EXPECT_EQ(failures("192.0.2.1"), INT32_MAX);
}

// An hour after the last wrong password the address starts again from the
// first, and its entry may go to another address.
TEST_F(Lockout, AnHourLaterEverythingIsForgotten) {
    for (int i = 0; i < 3; i++)
        fail("192.0.2.2", kStart);
    // Exactly an hour is not yet forgotten; a moment later is.
    EXPECT_EQ(fail("192.0.2.2", kStart + MAC_LOCKOUT_FORGET_MS), 60000u);
    EXPECT_EQ(remaining("192.0.2.2", kStart + MAC_LOCKOUT_FORGET_MS), 60000u);
    const uint64_t later = kStart + 2 * MAC_LOCKOUT_FORGET_MS + 1;
    EXPECT_EQ(fail("192.0.2.3", later), 0u);
    EXPECT_STREQ(table->entries[0].address, "192.0.2.3") << "the stale entry is reused";
    EXPECT_EQ(failures("192.0.2.2"), 0);
    EXPECT_EQ(fail("192.0.2.2", later), 0u);
    EXPECT_EQ(failures("192.0.2.2"), 1);
}

TEST_F(Lockout, UntrackableAddressesAreNeverLockedOut) {
    const std::string longAddress(64, 'x');
    for (int i = 0; i < 10; i++) {
        EXPECT_EQ(fail(longAddress, kStart), 0u);
        EXPECT_EQ(fail("", kStart), 0u);
        EXPECT_EQ(mac_logic_auth_failed(table.get(), nullptr, kStart), 0u);
        EXPECT_EQ(mac_logic_auth_failed(nullptr, "192.0.2.1", kStart), 0u);
    }
    EXPECT_EQ(remaining(longAddress, kStart), 0u);
    EXPECT_EQ(failures(longAddress), 0);
    EXPECT_EQ(mac_logic_lockout_remaining(nullptr, "192.0.2.1", kStart), 0u);
    EXPECT_EQ(mac_logic_lockout_failures(table.get(), nullptr), 0);
    EXPECT_EQ(mac_logic_lockout_clear(nullptr, "192.0.2.1"), 0);
    for (const MacLockoutEntry& e : table->entries)
        EXPECT_EQ(e.address[0], '\0');
}

// Entries 3 and 7 are stale: the first of them is reused before the oldest,
// but not while its lock has not ended.
TEST_F(Lockout, FirstStaleUnlockedEntryIsReusedBeforeTheOldest) {
    const struct {
        uint64_t tick3, lock3, tick7;
        int reused, kept;
    } cases[] = {{2, 0, 1, 3, 7}, {1, kStart + 9999999, 2, 7, 3}};
    for (const auto& c : cases) {
        table = std::make_unique<MacLockoutTable>();
        for (int i = 0; i < MAC_LOGIN_TABLE_SIZE; i++)
            fail(addressNumber(i), kStart + 10 * static_cast<uint64_t>(i));
        table->entries[3].lastFailureTick = c.tick3;
        table->entries[3].lockedUntil = c.lock3;
        table->entries[7].lastFailureTick = c.tick7;
        EXPECT_EQ(fail("198.51.100.9", kStart + 1000), 0u);
        const MacLockoutEntry& reused = table->entries[c.reused];
        EXPECT_STREQ(reused.address, "198.51.100.9") << c.reused;
        EXPECT_EQ(reused.failures, 1);
        EXPECT_EQ(reused.lastFailureTick, kStart + 1000);
        EXPECT_STREQ(table->entries[c.kept].address, addressNumber(c.kept).c_str());
    }
}

// A lock, or the memory of one, is never given away to make room: with the
// table full of such entries a newcomer counts as locked until the first of
// them frees, and its wrong password is not recorded over anybody's.
TEST_F(Lockout, ANewcomerNeverTakesALock) {
    const std::string victim = "192.0.2.66";
    struct Step {
        const char* what;
        int32_t failuresEach; // of every other entry
        uint64_t at;          // when the newcomer tries
        uint64_t newcomerRemaining;
        bool newcomerStored;
    } steps[] = {
        {"others never locked: the oldest of them makes room", 1, kStart + 10, 0, true},
        {"others locked: the newcomer waits until the first is forgotten", 3, kStart + 10,
         MAC_LOCKOUT_FORGET_MS + 1 - 10, false},
        {"others were locked, lock over but not forgotten", 3, kStart + 40000,
         MAC_LOCKOUT_FORGET_MS + 1 - 40000, false},
        {"others forgotten", 3, kStart + MAC_LOCKOUT_FORGET_MS + 1, 0, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        table = std::make_unique<MacLockoutTable>();
        for (int i = 0; i < 7; i++)
            fail(victim, kStart);
        ASSERT_EQ(remaining(victim, kStart), 480000u);
        for (int i = 1; i < MAC_LOCKOUT_TABLE_SIZE; i++)
            for (int n = 0; n < step.failuresEach; n++)
                fail("10." + std::to_string(i / 256) + ".0." + std::to_string(i % 256), kStart);
        EXPECT_EQ(remaining("198.51.100.9", step.at), step.newcomerRemaining);
        EXPECT_EQ(mac_logic_lockout_full(table.get(), step.at), step.newcomerRemaining ? 1 : 0);
        EXPECT_EQ(fail("198.51.100.9", step.at), 0u);
        EXPECT_EQ(failures("198.51.100.9"), step.newcomerStored ? 1 : 0);
        if (step.at <= kStart + MAC_LOCKOUT_FORGET_MS) {
            EXPECT_EQ(failures(victim), 7) << "the lock stays with its address";
            EXPECT_EQ(remaining(victim, step.at), kStart + 480000 - step.at);
        }
    }
}

namespace {

class AccountLimit : public ::testing::Test {
  protected:
    std::unique_ptr<MacAccountTable> table = std::make_unique<MacAccountTable>();
    uint64_t fail(const char* account, uint64_t now) {
        return mac_logic_account_failed(table.get(), account, now);
    }
    uint64_t remaining(const char* account, const char* address, uint64_t now) {
        return mac_logic_account_remaining(table.get(), account, address, now);
    }
    // Wrong passwords for the account, `n` of them a second apart from `from`;
    // returns the lock one of them imposed.
    uint64_t failMany(const char* account, int n, uint64_t from) {
        uint64_t lock = 0;
        for (int i = 0; i < n; i++)
            lock = std::max(lock, fail(account, from + 1000 * static_cast<uint64_t>(i)));
        return lock;
    }
};

} // namespace

// Ten wrong passwords in ten minutes, from whatever addresses, lock the
// account for a time that doubles up to five minutes.
TEST_F(AccountLimit, TenInTenMinutesLockForAGrowingTimeUpToFiveMinutes) {
    EXPECT_EQ(failMany("alice", MAC_ACCOUNT_FAILURES - 1, kStart), 0u);
    const uint64_t tenth = kStart + 9000;
    EXPECT_EQ(fail("alice", tenth), MAC_ACCOUNT_LOCK_FIRST_MS);
    EXPECT_EQ(remaining("alice", "203.0.113.5", tenth + 1000), MAC_ACCOUNT_LOCK_FIRST_MS - 1000);
    EXPECT_EQ(remaining("bob", "203.0.113.5", tenth), 0u) << "other accounts are not touched";
    EXPECT_EQ(fail("alice", tenth + 1), 0u) << "no new lock while locked";
    const uint64_t expected[] = {60000, 120000, 240000, MAC_ACCOUNT_LOCK_MAX_MS,
                                 MAC_ACCOUNT_LOCK_MAX_MS};
    uint64_t at = tenth + MAC_ACCOUNT_LOCK_MAX_MS;
    for (uint64_t lock : expected) {
        EXPECT_EQ(failMany("alice", MAC_ACCOUNT_FAILURES, at), lock);
        at += MAC_ACCOUNT_LOCK_MAX_MS + 10000;
    }
    // After ten quiet minutes the run of locks starts again from the first.
    at += MAC_ACCOUNT_WINDOW_MS + 1;
    EXPECT_EQ(failMany("alice", MAC_ACCOUNT_FAILURES, at), MAC_ACCOUNT_LOCK_FIRST_MS);
}

TEST_F(AccountLimit, FailuresOlderThanTheWindowDoNotCount) {
    fail("alice", kStart);
    EXPECT_EQ(failMany("alice", MAC_ACCOUNT_FAILURES - 1, kStart + MAC_ACCOUNT_WINDOW_MS), 0u)
        << "the first failure left the window as the tenth came";
    EXPECT_EQ(fail("alice", kStart + MAC_ACCOUNT_WINDOW_MS + 9000), MAC_ACCOUNT_LOCK_FIRST_MS);
}

// The owner is not locked out from an address it logged in from before.
TEST_F(AccountLimit, AnAddressThatLoggedInBeforeIsNotBlocked) {
    mac_logic_account_succeeded(table.get(), "alice", "192.0.2.10", kStart);
    mac_logic_account_succeeded(table.get(), "bob", "192.0.2.11", kStart - 1);
    failMany("alice", MAC_ACCOUNT_FAILURES, kStart + 1000);
    const uint64_t now = kStart + 20000;
    EXPECT_EQ(remaining("alice", "192.0.2.10", now), 0u);
    EXPECT_GT(remaining("alice", "192.0.2.11", now), 0u) << "known for bob, not for alice";
    EXPECT_GT(remaining("alice", "203.0.113.5", now), 0u);
    // The oldest known address makes room for new ones.
    for (int i = 0; i < MAC_KNOWN_ADDRESS_COUNT - 1; i++)
        mac_logic_account_succeeded(table.get(), "carol", ("10.1.0." + std::to_string(i)).c_str(),
                                    now + 1 + static_cast<uint64_t>(i));
    EXPECT_EQ(remaining("alice", "192.0.2.10", now), 0u) << "bob's older entry went first";
    mac_logic_account_succeeded(table.get(), "carol", "10.2.0.1", now + 1000);
    EXPECT_GT(remaining("alice", "192.0.2.10", now), 0u);
}

TEST_F(AccountLimit, UntrackableAccountsAndAFullTable) {
    EXPECT_EQ(failMany("", MAC_ACCOUNT_FAILURES, kStart), 0u);
    EXPECT_EQ(mac_logic_account_failed(table.get(), nullptr, kStart), 0u);
    EXPECT_EQ(mac_logic_account_failed(nullptr, "alice", kStart), 0u);
    const std::string tooLong(MAC_ACCOUNT_SIZE, 'a');
    EXPECT_EQ(failMany(tooLong.c_str(), MAC_ACCOUNT_FAILURES, kStart), 0u);
    // Every entry locked: a new account goes untracked, no lock is lost.
    for (int i = 0; i < MAC_ACCOUNT_TABLE_SIZE; i++)
        failMany(("user" + std::to_string(i)).c_str(), MAC_ACCOUNT_FAILURES, kStart);
    EXPECT_EQ(failMany("newcomer", MAC_ACCOUNT_FAILURES, kStart + 10000), 0u);
    EXPECT_GT(remaining("user0", "203.0.113.5", kStart + 10000), 0u);
    // Once the locks have ended the quietest entry makes room.
    const uint64_t later = kStart + MAC_ACCOUNT_WINDOW_MS + 20000;
    EXPECT_EQ(failMany("newcomer", MAC_ACCOUNT_FAILURES, later), MAC_ACCOUNT_LOCK_FIRST_MS);
}
