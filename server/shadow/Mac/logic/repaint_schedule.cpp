// Full-picture repaints: a short burst after a change, one after the frames
// settle, and a schedule that thins out from seconds to half an hour after a
// client connects (every 30 s while a risk window is open).
#include "mac_logic.h"

namespace {

// Delay after the repaint with this index; the first (index 0) is only used
// if the schedule was started without a connect.
constexpr uint32_t kDelays[MAC_REPAINT_STEPS] = {4000, 3000, 3000, 50000, 240000, 900000, 1800000};
constexpr int32_t kLastStep = MAC_REPAINT_STEPS - 1;

bool burstDue(MacRepaintSchedule* s, uint64_t now) {
    if (now >= s->burstEnd || now < s->nextBurstRepaint)
        return false;
    s->nextBurstRepaint = now + MAC_BURST_STEP_MS;
    return true;
}

bool settleDue(MacRepaintSchedule* s, uint64_t now) {
    if (s->lastFrameTick <= s->lastSettleRepaint || now < s->lastFrameTick + MAC_SETTLE_QUIET_MS)
        return false;
    s->lastSettleRepaint = s->lastFrameTick;
    return true;
}

bool scheduledDue(MacRepaintSchedule* s, uint64_t now, int32_t* logIndex) {
    if (!s->nextScheduledRepaint || now < s->nextScheduledRepaint)
        return false;
    if (s->repaintIndex <= MAC_REPAINT_LOGGED_MAX && now >= s->riskUntil && logIndex)
        *logIndex = s->repaintIndex;
    s->nextScheduledRepaint = now + mac_logic_next_repaint_ms(&s->repaintIndex, now, s->riskUntil);
    return true;
}

} // namespace

extern "C" uint32_t mac_logic_next_repaint_ms(int32_t* repaintIndex, uint64_t now,
                                              uint64_t riskUntil) noexcept {
    if (now < riskUntil)
        return MAC_REPAINT_RISK_INTERVAL_MS;
    int32_t i = repaintIndex ? *repaintIndex : 0;
    i = i < 0 ? 0 : (i > kLastStep ? kLastStep : i);
    if (repaintIndex)
        *repaintIndex = i < kLastStep ? i + 1 : kLastStep;
    return kDelays[i];
}

extern "C" void mac_logic_repaint_burst(MacRepaintSchedule* s, uint64_t now,
                                        uint32_t firstDelayMs) noexcept {
    if (!s)
        return;
    s->burstEnd = now + MAC_BURST_LENGTH_MS;
    s->nextBurstRepaint = now + firstDelayMs;
}

extern "C" void mac_logic_repaint_connect(MacRepaintSchedule* s, uint64_t now) noexcept {
    if (!s)
        return;
    mac_logic_repaint_burst(s, now, MAC_BURST_AFTER_CONNECT_MS);
    s->nextScheduledRepaint = now + MAC_REPAINT_FIRST_MS;
    s->repaintIndex = 1;
}

extern "C" void mac_logic_repaint_risk(MacRepaintSchedule* s, uint64_t now) noexcept {
    if (!s)
        return;
    s->riskUntil = now + MAC_REPAINT_RISK_WINDOW_MS;
    const uint64_t soon = now + MAC_REPAINT_RISK_INTERVAL_MS;
    if (!s->nextScheduledRepaint || s->nextScheduledRepaint > soon)
        s->nextScheduledRepaint = soon;
}

extern "C" int32_t mac_logic_repaint_due(MacRepaintSchedule* s, uint64_t now,
                                         int32_t* logIndex) noexcept {
    if (logIndex)
        *logIndex = -1;
    if (!s)
        return MAC_REPAINT_NONE;
    if (burstDue(s, now))
        return MAC_REPAINT_BURST;
    if (settleDue(s, now))
        return MAC_REPAINT_SETTLE;
    if (scheduledDue(s, now, logIndex))
        return MAC_REPAINT_SCHEDULED;
    return MAC_REPAINT_NONE;
}
