#include "mac_logic.h"

#include <gtest/gtest.h>

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

TEST_F(Lockout, GoodLoginFreesTheEntry) {
    for (int i = 0; i < 3; i++)
        fail("192.0.2.1", kStart);
    EXPECT_EQ(mac_logic_lockout_clear(table.get(), "192.0.2.1"), 1);
    EXPECT_EQ(table->entries[0].address[0], '\0');
    EXPECT_EQ(remaining("192.0.2.1", kStart), 0u);
    EXPECT_EQ(failures("192.0.2.1"), 0);
    EXPECT_EQ(fail("192.0.2.1", kStart + 1), 0u); // counting starts again
    EXPECT_EQ(mac_logic_lockout_clear(table.get(), "192.0.2.7"), 0);
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

TEST_F(Lockout, FirstStaleEntryIsReusedBeforeTheOldest) {
    for (int i = 0; i < MAC_LOGIN_TABLE_SIZE; i++)
        fail(addressNumber(i), kStart + 10 * static_cast<uint64_t>(i));
    table->entries[3].lastFailureTick = 2; // stale
    table->entries[7].lastFailureTick = 1; // stale and the oldest
    EXPECT_EQ(fail("198.51.100.9", kStart + 1000), 0u);
    EXPECT_STREQ(table->entries[3].address, "198.51.100.9");
    EXPECT_EQ(table->entries[3].failures, 1);
    EXPECT_EQ(table->entries[3].lastFailureTick, kStart + 1000);
    EXPECT_STREQ(table->entries[7].address, addressNumber(7).c_str());
}

TEST_F(Lockout, StaleButStillLockedEntryIsNotTakenAsStale) {
    for (int i = 0; i < MAC_LOGIN_TABLE_SIZE; i++)
        fail(addressNumber(i), kStart + 10 * static_cast<uint64_t>(i));
    table->entries[3].lastFailureTick = 1; // oldest, but its lock has not ended
    table->entries[3].lockedUntil = kStart + 9999999;
    table->entries[7].lastFailureTick = 2; // stale and unlocked
    EXPECT_EQ(fail("198.51.100.9", kStart + 1000), 0u);
    EXPECT_STREQ(table->entries[7].address, "198.51.100.9");
    EXPECT_STREQ(table->entries[3].address, addressNumber(3).c_str());
}

TEST_F(Lockout, FullTableGivesTheOldestFailureAway) {
    for (int i = 0; i < MAC_LOGIN_TABLE_SIZE; i++)
        fail(addressNumber(i), kStart + 10 * static_cast<uint64_t>(MAC_LOGIN_TABLE_SIZE - i));
    fail(addressNumber(MAC_LOGIN_TABLE_SIZE - 1), kStart + 5000); // was oldest, now newest
    EXPECT_EQ(fail("198.51.100.9", kStart + 6000), 0u);
    EXPECT_STREQ(table->entries[MAC_LOGIN_TABLE_SIZE - 2].address, "198.51.100.9");
    EXPECT_EQ(failures(addressNumber(MAC_LOGIN_TABLE_SIZE - 2)), 0);
    EXPECT_EQ(failures(addressNumber(MAC_LOGIN_TABLE_SIZE - 1)), 2);
}

TEST_F(Lockout, EqualOldestTakesTheFirstInTableOrder) {
    for (int i = 0; i < MAC_LOGIN_TABLE_SIZE; i++)
        fail(addressNumber(i), kStart);
    fail("198.51.100.9", kStart + 1);
    EXPECT_STREQ(table->entries[0].address, "198.51.100.9");
    EXPECT_STREQ(table->entries[1].address, addressNumber(1).c_str());
}
