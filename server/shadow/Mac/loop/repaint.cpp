#include "repaint.h"

#include "base/log.h"
#include "capture/mac_capture.h"
#include "core/host.h"
#include "core/section_lock.h"
#include "frames.h"
#include "power.h"
#include "thread.h"

namespace {

MacRepaintSchedule loadSchedule(const macShadowSubsystem* r) {
    return {r->burstEnd,          r->nextBurstRepaint,     r->lastFrameTick,
            r->lastSettleRepaint, r->nextScheduledRepaint, r->repaintIndex,
            r->riskUntil};
}

void storeSchedule(macShadowSubsystem* r, const MacRepaintSchedule& s) {
    r->burstEnd = s.burstEnd;
    r->nextBurstRepaint = s.nextBurstRepaint;
    r->lastSettleRepaint = s.lastSettleRepaint;
    r->nextScheduledRepaint = s.nextScheduledRepaint;
    r->repaintIndex = s.repaintIndex;
    r->riskUntil = s.riskUntil;
    // lastFrameTick belongs to the frame callback and is only read here.
}

} // namespace

uint32_t mac_shadow_largest_inflight(macShadowSubsystem* record) {
    uint32_t largest = 0;
    wArrayList* clients = record->common.base.server->clients;
    ArrayList_Lock(clients);
    for (size_t i = 0; i < ArrayList_Count(clients); ++i) {
        auto* client = static_cast<rdpShadowClient*>(ArrayList_GetItem(clients, i));
        if (!client || !client->activated || !client->encoder)
            continue;
        const UINT32 inflight = mac_shadow_host().inflightFrames(client->encoder);
        largest = inflight > largest ? inflight : largest;
    }
    ArrayList_Unlock(clients);
    return largest;
}

void mac_shadow_repaint_on_connect(macShadowSubsystem* record, uint64_t now) {
    MacRepaintSchedule s = loadSchedule(record);
    mac_logic_repaint_connect(&s, now);
    storeSchedule(record, s);
}

void mac_shadow_repaint_burst(macShadowSubsystem* record, uint64_t now, uint32_t firstDelayMs) {
    MacRepaintSchedule s = loadSchedule(record);
    mac_logic_repaint_burst(&s, now, firstDelayMs);
    storeSchedule(record, s);
}

extern "C" void mac_shadow_risk_event(macShadowSubsystem* record, const char* reason,
                                      uint64_t now) {
    record->riskEvents += 1;
    MacRepaintSchedule s = loadSchedule(record);
    mac_logic_repaint_risk(&s, now);
    storeSchedule(record, s);
    MAC_INFO("%s: repainting every 30 s for the next 3 minutes", reason);
}

void mac_shadow_scheduled_repaints(macShadowSubsystem* record, uint64_t now) {
    MacRepaintSchedule s = loadSchedule(record);
    int32_t logIndex = -1;
    const int32_t kind = mac_logic_repaint_due(&s, now, &logIndex);
    storeSchedule(record, s);
    if (kind == MAC_REPAINT_NONE)
        return;
    if (logIndex >= 0)
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_subsystem_thread",
                   "scheduled repaint %d after the client connected", logIndex);
    if (kind != MAC_REPAINT_BURST)
        record->repaints += 1;
    mac_shadow_push_last_frame(record);
}

void mac_shadow_ack_check(macShadowSubsystem* record, uint64_t now) {
    MacAckWatch w{record->nextAckCheck, record->nextAckLog, record->lastStall};
    if (!mac_logic_ack_due(&w, now)) {
        record->nextAckCheck = w.nextAckCheck;
        return;
    }
    const uint32_t inflight = mac_shadow_largest_inflight(record);
    const int32_t verdict = mac_logic_ack_verdict(&w, inflight, now);
    record->nextAckCheck = w.nextAckCheck;
    record->nextAckLog = w.nextAckLog;
    record->lastStall = w.lastStall;
    if (verdict & MAC_ACK_LOG)
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_subsystem_thread",
                   "frames sent but not yet acknowledged by the slowest client: %u", inflight);
    if (verdict & MAC_ACK_STALL) {
        record->stalls += 1;
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_subsystem_thread",
                   "a client is %u frames behind acknowledging", inflight);
        mac_shadow_risk_event(record, "a client fell behind", now);
        record->lastSettleRepaint = 0;
    }
}

void mac_shadow_capture_watchdog(macShadowSubsystem* record, uint64_t now) {
    if (record->tearingDown.load())
        return; // the capture was stopped on purpose
    const uint64_t stopped = static_cast<uint64_t>(mac_capture_stopped_count());
    if ((stopped == record->stoppedCountSeen && !record->captureDown) ||
        record->nextCaptureRestart > now)
        return;
    bool planWaiting = false;
    {
        SectionLock lock(record->subsystemLock);
        planWaiting = record->resizePending;
    }
    if (planWaiting)
        return;
    record->nextCaptureRestart = now + 2000;
    mac_shadow_wake_display();
    const bool ok = mac_shadow_restart_capture(record);
    MAC_LOG_FN(WLOG_INFO, "mac_shadow_screen_grab", "the capture had stopped (screen asleep?): %s",
               ok ? "restarted" : "restart failed, trying again");
    if (ok) {
        mac_shadow_risk_event(record, "capture restarted", now);
        mac_shadow_repaint_burst(record, now, MAC_BURST_AFTER_RESTART_MS);
    }
}
