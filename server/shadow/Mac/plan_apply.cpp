#include "plan_apply.h"

#include "log.h"

// Client layouts are not turned into plans yet, so the only plan that can
// arrive is the return to the real screen, which is already in force while no
// virtual display exists. Such a plan is dropped; the layout component takes
// this function over.
int mac_shadow_apply_plan_locked(macShadowSubsystem* record, const DesktopPlan* plan,
                                 int32_t serial, uint64_t now) {
    (void)now;
    if (!record || !plan)
        return 0;
    MAC_LOG_FN(WLOG_INFO, "mac_shadow_apply_resize_locked",
               "plan %d (%ux%u) dropped: desktop layouts are not supported yet", serial,
               plan->totalWidth, plan->totalHeight);
    return 0;
}
