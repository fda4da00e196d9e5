// Who gets the desktop once logged in: the host's settings, whether anyone
// is at the desktop, a client coming back after a drop, and the lock when
// the last client leaves.
#include <cstddef>
#include <cstring>

#include "mac_logic.h"

namespace {

bool empty(const char* value) {
    return !value || !value[0];
}

bool same(const char* a, const char* b) {
    return a && b && std::strcmp(a, b) == 0;
}

// A setting's word and the value it stands for.
struct Word {
    const char* name;
    int32_t value;
};

// The value a setting's word stands for; empty means the first word's value,
// as does an unknown word, which is reported (0) for the caller to log.
template <size_t N> int32_t wordValue(const char* value, const Word (&words)[N], int32_t* out) {
    if (out)
        *out = words[0].value;
    if (empty(value))
        return 1;
    for (const Word& w : words)
        if (same(value, w.name)) {
            if (out)
                *out = w.value;
            return 1;
        }
    return 0;
}

} // namespace

extern "C" int32_t mac_logic_ask_mode(const char* value, int32_t* out) noexcept {
    static const Word kModes[] = {
        {"allow", MAC_ASK_ALLOW}, {"ask", MAC_ASK_ASK}, {"ask-unless-away", MAC_ASK_UNLESS_AWAY}};
    return wordValue(value, kModes, out);
}

extern "C" int32_t mac_logic_lock_on_leave_mode(const char* value, int32_t* out) noexcept {
    static const Word kModes[] = {
        {"auto", MAC_LOCK_AUTO}, {"on", MAC_LOCK_ON}, {"off", MAC_LOCK_OFF}};
    return wordValue(value, kModes, out);
}

extern "C" int32_t mac_logic_seconds_value(const char* value, uint32_t min, uint32_t max,
                                           uint32_t fallback, uint32_t* out) noexcept {
    if (out)
        *out = fallback;
    if (empty(value))
        return 1;
    uint64_t n = 0;
    for (const char* c = value; *c; ++c) {
        if (*c < '0' || *c > '9')
            return 0;
        n = n * 10 + static_cast<uint64_t>(*c - '0');
        if (n > max)
            return 0;
    }
    if (n < min)
        return 0;
    if (out)
        *out = static_cast<uint32_t>(n);
    return 1;
}

extern "C" int32_t mac_logic_nobody_at_desktop(const MacPresence* p, uint64_t awayIdleMs) noexcept {
    if (!p)
        return 0;
    if (p->lockedKnown && p->locked)
        return 1;
    return p->idleKnown && p->idleMs >= awayIdleMs ? 1 : 0;
}

extern "C" int32_t mac_logic_arrival(int32_t askMode, int32_t reconnectGrace, int32_t nobodyThere,
                                     int32_t readerConnected) noexcept {
    if (askMode != MAC_ASK_ASK && askMode != MAC_ASK_UNLESS_AWAY)
        return MAC_ARRIVAL_LET_IN;
    if (reconnectGrace)
        return MAC_ARRIVAL_GRACE;
    if (askMode == MAC_ASK_UNLESS_AWAY && nobodyThere)
        return MAC_ARRIVAL_AWAY;
    return readerConnected ? MAC_ARRIVAL_PROMPT : MAC_ARRIVAL_REFUSE_NO_READER;
}

extern "C" int32_t mac_logic_timeout_allows(int32_t askMode, int32_t nobodyThere) noexcept {
    return askMode == MAC_ASK_UNLESS_AWAY && nobodyThere ? 1 : 0;
}

extern "C" int32_t mac_logic_reconnect_grace(const MacLeaving* l, const char* account,
                                             const char* address, uint64_t now) noexcept {
    if (!l || l->end != MAC_END_DROPPED || empty(address) || !account)
        return 0;
    if (!same(l->account, account) || !same(l->address, address))
        return 0;
    return now >= l->at && now - l->at <= MAC_RECONNECT_GRACE_MS ? 1 : 0;
}

extern "C" int32_t mac_logic_lock_on_leave(int32_t setting, int32_t nobodyWhenFirstCame) noexcept {
    if (setting == MAC_LOCK_ON)
        return 1;
    return setting == MAC_LOCK_AUTO && nobodyWhenFirstCame ? 1 : 0;
}
