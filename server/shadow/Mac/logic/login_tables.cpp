// Per-address connection limit, wrong-password lockout per address and per
// account. The caller holds the login lock; these functions only read and
// write the tables.
#include "mac_logic.h"

#include <cstring>

namespace {

// Length of a trackable address, or 0 for a missing, empty or too long one.
size_t trackableLength(const char* address) {
    if (!address)
        return 0;
    const size_t len = strnlen(address, MAC_LOGIN_ADDRESS_MAX + 1);
    return len > MAC_LOGIN_ADDRESS_MAX ? 0 : len;
}

template <typename Entry> void storeAddress(Entry* e, const char* address, size_t len) {
    std::memset(e, 0, sizeof(*e));
    std::memcpy(e->address, address, len);
}

template <typename Entry, size_t N> Entry* findEntry(Entry (&entries)[N], const char* address) {
    for (Entry& e : entries) {
        if (e.address[0] && std::strcmp(e.address, address) == 0)
            return &e;
    }
    return nullptr;
}

MacConnEntry* connSlot(MacConnTable* table) {
    MacConnEntry* oldest = &table->entries[0];
    for (MacConnEntry& e : table->entries) {
        if (!e.address[0])
            return &e;
        if (e.windowStart < oldest->windowStart)
            oldest = &e;
    }
    return oldest;
}

bool forgotten(const MacLockoutEntry& e, uint64_t now) {
    return e.lastFailureTick + MAC_LOCKOUT_FORGET_MS < now;
}

// Wrong passwords before the first lock.
constexpr int32_t kFreeFailures = 2;

// When an entry may go to another address: once its lock has ended and its
// failures are forgotten; an entry that never led to a lock as soon as it is
// the oldest such one (losing it costs an attacker nothing it had not got).
// A lock, and the memory of one, is never given away.
uint64_t freesAt(const MacLockoutEntry& e) {
    const uint64_t forgotten = e.lastFailureTick + MAC_LOCKOUT_FORGET_MS + 1;
    return e.lockedUntil > forgotten ? e.lockedUntil : forgotten;
}

MacLockoutEntry* lockoutSlot(MacLockoutTable* table, uint64_t now) {
    MacLockoutEntry* neverLocked = nullptr;
    for (MacLockoutEntry& e : table->entries) {
        if (!e.address[0] || (forgotten(e, now) && e.lockedUntil <= now))
            return &e;
        if (e.failures <= kFreeFailures && e.lockedUntil <= now &&
            (!neverLocked || e.lastFailureTick < neverLocked->lastFailureTick))
            neverLocked = &e;
    }
    return neverLocked;
}

// Milliseconds until lockoutSlot finds an entry; 0 when it finds one now.
uint64_t untilSlotFrees(const MacLockoutTable* table, uint64_t now) {
    uint64_t soonest = UINT64_MAX;
    for (const MacLockoutEntry& e : table->entries) {
        if (!e.address[0] || (forgotten(e, now) && e.lockedUntil <= now) ||
            (e.failures <= kFreeFailures && e.lockedUntil <= now))
            return 0;
        const uint64_t at = freesAt(e);
        if (at < soonest)
            soonest = at;
    }
    return soonest > now ? soonest - now : 1;
}

// Lockout for the wrong password that follows `previous` earlier ones:
// none for the first two, then 30 s doubling up to a 900 s ceiling.
uint64_t lockoutAfter(int32_t previous) {
    if (previous < kFreeFailures)
        return 0;
    if (previous >= 7)
        return MAC_LOCKOUT_MAX_MS;
    return uint64_t{30000} << (previous - 2);
}

} // namespace

extern "C" int32_t mac_logic_conn_allow(MacConnTable* table, const char* address,
                                        uint64_t now) noexcept {
    const size_t len = trackableLength(address);
    if (!table || !len)
        return 1;
    MacConnEntry* e = findEntry(table->entries, address);
    if (e && now >= e->windowStart && now - e->windowStart < MAC_CONN_WINDOW_MS) {
        if (e->count >= MAC_CONN_PER_WINDOW)
            return 0;
        e->count++;
        return 1;
    }
    if (!e) {
        e = connSlot(table);
        storeAddress(e, address, len);
    }
    e->windowStart = now;
    e->count = 1;
    return 1;
}

extern "C" uint64_t mac_logic_auth_failed(MacLockoutTable* table, const char* address,
                                          uint64_t now) noexcept {
    const size_t len = trackableLength(address);
    if (!table || !len)
        return 0;
    MacLockoutEntry* e = findEntry(table->entries, address);
    if (!e) {
        e = lockoutSlot(table, now);
        if (!e)
            return 0; // the caller refuses such an address before it gets here
        storeAddress(e, address, len);
    } else if (forgotten(*e, now)) {
        e->failures = 0;
    }
    const int32_t previous = e->failures;
    if (e->failures < INT32_MAX)
        e->failures++;
    e->lastFailureTick = now;
    const uint64_t lockout = lockoutAfter(previous);
    e->lockedUntil = now + lockout;
    return lockout;
}

extern "C" uint64_t mac_logic_lockout_remaining(const MacLockoutTable* table, const char* address,
                                                uint64_t now) noexcept {
    if (!table || !trackableLength(address))
        return 0;
    const MacLockoutEntry* e = findEntry(table->entries, address);
    if (!e)
        return untilSlotFrees(table, now);
    return e->lockedUntil > now ? e->lockedUntil - now : 0;
}

extern "C" int32_t mac_logic_lockout_full(const MacLockoutTable* table, uint64_t now) noexcept {
    return table && untilSlotFrees(table, now) > 0 ? 1 : 0;
}

extern "C" int32_t mac_logic_lockout_failures(const MacLockoutTable* table,
                                              const char* address) noexcept {
    if (!table || !trackableLength(address))
        return 0;
    const MacLockoutEntry* e = findEntry(table->entries, address);
    return e ? e->failures : 0;
}

extern "C" int32_t mac_logic_lockout_clear(MacLockoutTable* table, const char* address) noexcept {
    if (!table || !trackableLength(address))
        return 0;
    MacLockoutEntry* e = findEntry(table->entries, address);
    if (!e)
        return 0;
    std::memset(e, 0, sizeof(*e));
    return 1;
}

extern "C" uint64_t mac_logic_seconds_up(uint64_t ms) noexcept {
    return ms / 1000 + (ms % 1000 ? 1 : 0);
}
