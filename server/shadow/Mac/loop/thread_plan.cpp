// Handing a waiting desktop plan to the layout component.
#include "core/section_lock.h"
#include "layout/main_display_watch.h"
#include "layout/plan_apply.h"
#include "repaint.h"
#include "thread.h"

namespace {
bool planDue(const macShadowSubsystem* r, uint64_t now) {
    if (!r->resizePending || now < r->resizeRequestTick + 300 || now < r->resizeHoldUntil)
        return false;
    return r->resizeRequestTick == 0 || r->lastResizeTick == 0 || now - r->lastResizeTick >= 2000;
}
} // namespace

void mac_shadow_plan_handover(macShadowSubsystem* record, uint64_t now) {
    SectionLock display(record->displayLock);
    if (record->tearingDown.load())
        return;
    mac_shadow_main_display_check(record);
    SectionLock lock(record->subsystemLock);
    if (!planDue(record, now))
        return;
    const DesktopPlan plan = record->pendingPlan;
    const int32_t serial = record->resizeSerial;
    record->resizePending = false;
    lock.unlock();

    if (mac_shadow_apply_plan_locked(record, &plan, serial, now) == 1) {
        mac_shadow_repaint_burst(record, now, MAC_BURST_AFTER_CONNECT_MS);
        record->resizes += 1;
        if (record->activeClients != 0)
            mac_shadow_risk_event(record, "the desktop size changed", now);
    }
}
