// Applying a desktop plan: resizing the desktop, creating or removing
// virtual displays and restarting the capture. Runs on the subsystem thread
// under displayLock.
#pragma once
#include "mac_shadow.h"

// 1 when the plan was applied, 0 when it was dropped or put off.
int mac_shadow_apply_plan_locked(macShadowSubsystem* record, const DesktopPlan* plan,
                                 int32_t serial, uint64_t now);
