// Watching how far the slowest acknowledging client lags behind: a note
// every 10 s while frames pile up, a stall (with a repaint) at most once a
// minute when it falls far behind.
#include "mac_logic.h"

extern "C" int32_t mac_logic_ack_due(MacAckWatch* w, uint64_t now) noexcept {
    if (!w || now < w->nextAckCheck)
        return 0;
    w->nextAckCheck = now + MAC_ACK_CHECK_MS;
    return 1;
}

extern "C" int32_t mac_logic_ack_verdict(MacAckWatch* w, uint32_t maxInflight,
                                         uint64_t now) noexcept {
    if (!w || maxInflight <= MAC_ACK_LOG_ABOVE)
        return 0;
    int32_t verdict = 0;
    if (now >= w->nextAckLog) {
        w->nextAckLog = now + MAC_ACK_LOG_MS;
        verdict |= MAC_ACK_LOG;
    }
    const bool stallAllowed =
        !w->lastStall || (now >= w->lastStall && now - w->lastStall >= MAC_ACK_STALL_MS);
    if (maxInflight > MAC_ACK_STALL_ABOVE && stallAllowed) {
        w->lastStall = now;
        verdict |= MAC_ACK_STALL;
    }
    return verdict;
}
