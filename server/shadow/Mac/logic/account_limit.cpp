// Wrong passwords per account, from any address: guesses spread over many
// addresses are limited too, without letting them lock the owner out for
// long or at all from an address the owner logged in from before. The caller
// holds the login lock.
#include "mac_logic.h"

#include <cstring>

namespace {

size_t usableLength(const char* text, size_t size) {
    if (!text)
        return 0;
    const size_t len = strnlen(text, size);
    return len >= size ? 0 : len;
}

MacAccountEntry* findAccount(MacAccountTable* table, const char* account) {
    for (MacAccountEntry& e : table->entries)
        if (e.account[0] && std::strcmp(e.account, account) == 0)
            return &e;
    return nullptr;
}

const MacAccountEntry* findAccount(const MacAccountTable* table, const char* account) {
    return findAccount(const_cast<MacAccountTable*>(table), account);
}

bool quiet(const MacAccountEntry& e, uint64_t now) {
    return e.lockedUntil <= now && e.lastFailureTick + MAC_ACCOUNT_WINDOW_MS < now;
}

// A free entry, else the one quiet the longest, else (every account locked
// or busy) the unlocked one whose last failure is oldest; null when every
// entry is locked.
MacAccountEntry* accountSlot(MacAccountTable* table, uint64_t now) {
    MacAccountEntry* best = nullptr;
    for (MacAccountEntry& e : table->entries) {
        if (!e.account[0])
            return &e;
        if (e.lockedUntil > now)
            continue;
        if (!best || (quiet(e, now) && !quiet(*best, now)) ||
            (quiet(e, now) == quiet(*best, now) && e.lastFailureTick < best->lastFailureTick))
            best = &e;
    }
    return best;
}

// Failures of the entry within the window that ends at now.
int32_t recentFailures(const MacAccountEntry& e, uint64_t now) {
    int32_t n = 0;
    for (uint64_t tick : e.failureTicks)
        if (tick != 0 && tick <= now && now - tick < MAC_ACCOUNT_WINDOW_MS)
            n++;
    return n;
}

uint64_t lockFor(int32_t locksBefore) {
    uint64_t lock = MAC_ACCOUNT_LOCK_FIRST_MS;
    for (int32_t i = 0; i < locksBefore && lock < MAC_ACCOUNT_LOCK_MAX_MS; i++)
        lock *= 2;
    return lock < MAC_ACCOUNT_LOCK_MAX_MS ? lock : MAC_ACCOUNT_LOCK_MAX_MS;
}

bool knownAddress(const MacAccountTable* table, const char* account, const char* address) {
    for (const MacKnownAddress& k : table->known)
        if (k.account[0] && std::strcmp(k.account, account) == 0 &&
            std::strcmp(k.address, address) == 0)
            return true;
    return false;
}

} // namespace

extern "C" uint64_t mac_logic_account_failed(MacAccountTable* table, const char* account,
                                             uint64_t now) noexcept {
    const size_t len = usableLength(account, MAC_ACCOUNT_SIZE);
    if (!table || !len)
        return 0;
    MacAccountEntry* e = findAccount(table, account);
    if (!e) {
        e = accountSlot(table, now);
        if (!e)
            return 0;
        std::memset(e, 0, sizeof *e);
        std::memcpy(e->account, account, len);
    } else if (quiet(*e, now)) {
        e->locks = 0; // a quiet window ends the run of locks
    }
    e->failureTicks[e->nextFailure] = now ? now : 1;
    e->nextFailure = (e->nextFailure + 1) % MAC_ACCOUNT_FAILURES;
    e->lastFailureTick = now;
    if (e->lockedUntil > now || recentFailures(*e, now) < MAC_ACCOUNT_FAILURES)
        return 0;
    const uint64_t lock = lockFor(e->locks);
    if (e->locks < 30)
        e->locks++;
    e->lockedUntil = now + lock;
    // The window starts afresh: the next lock needs as many new failures.
    std::memset(e->failureTicks, 0, sizeof e->failureTicks);
    return lock;
}

extern "C" uint64_t mac_logic_account_remaining(const MacAccountTable* table, const char* account,
                                                const char* address, uint64_t now) noexcept {
    if (!table || !usableLength(account, MAC_ACCOUNT_SIZE))
        return 0;
    const MacAccountEntry* e = findAccount(table, account);
    if (!e || e->lockedUntil <= now)
        return 0;
    if (address && knownAddress(table, account, address))
        return 0;
    return e->lockedUntil - now;
}

extern "C" void mac_logic_account_succeeded(MacAccountTable* table, const char* account,
                                            const char* address, uint64_t now) noexcept {
    const size_t accountLen = usableLength(account, MAC_ACCOUNT_SIZE);
    const size_t addressLen = usableLength(address, MAC_LOGIN_ADDRESS_MAX + 1);
    if (!table || !accountLen || !addressLen)
        return;
    MacKnownAddress* slot = &table->known[0];
    for (MacKnownAddress& k : table->known) {
        if (k.account[0] && std::strcmp(k.account, account) == 0 &&
            std::strcmp(k.address, address) == 0) {
            slot = &k;
            break;
        }
        if (!k.account[0] || (slot->account[0] && k.lastLogin < slot->lastLogin))
            slot = &k;
    }
    std::memset(slot, 0, sizeof *slot);
    std::memcpy(slot->account, account, accountLen);
    std::memcpy(slot->address, address, addressLen);
    slot->lastLogin = now ? now : 1;
}
