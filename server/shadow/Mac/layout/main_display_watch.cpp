// A main display resized by someone else (a user running xrandr, a display
// settings panel) is measured again, and the desktop follows it while the
// real screen is shared: capture and input mapping then use the new size.
#include "main_display_watch.h"

#include <atomic>

#include "desktop_size.h"
#include "base/env.h"
#include "core/section_lock.h"
#include "layout_request.h"
#include "base/log.h"
#include "platform/platform.h"

namespace {
// Process-wide: the platform's handler may run on its own thread at any
// time, also after the record is gone, so it only raises this flag.
std::atomic<bool> gChanged{false};
} // namespace

void mac_shadow_watch_main_display(void) {
    corvane::platform::current().displayConfig().setScreenChangeHandler(
        [] { gChanged.store(true); });
}

void mac_shadow_note_main_display_changed(void) {
    gChanged.store(true);
}

bool mac_shadow_main_display_check(macShadowSubsystem* r) {
    if (!gChanged.exchange(false))
        return false;
    corvane::platform::MainDisplayInfo main;
    if (!corvane::platform::current().displays().mainDisplay(main) || main.pixelWidth <= 0 ||
        main.pixelHeight <= 0)
        return false;
    const double s = mac_shadow_share_scale(mac_env::native(), mac_env::scale());
    const InitialDesktop d = mac_shadow_initial_desktop(main, s);
    MAC_INFO("the main display is now %dx%d pixels (%dx%d points), changed from outside",
             main.pixelWidth, main.pixelHeight, main.pointsWidth, main.pointsHeight);
    SectionLock lock(r->subsystemLock);
    r->mainPixelWidth = main.pixelWidth;
    r->mainPixelHeight = main.pixelHeight;
    r->mainPointsWidth = main.pointsWidth;
    r->mainPointsHeight = main.pointsHeight;
    r->mainDisplayHiDPI = d.hidpi;
    r->initialWidth = d.width;
    r->initialHeight = d.height;
    r->lastClientPlanValid = false;
    const bool follow = !r->virtualActive && !r->resizePending;
    lock.unlock();
    if (!follow)
        return true;
    DesktopPlan plan = {};
    plan.count = 1;
    plan.width[0] = plan.totalWidth = static_cast<uint32_t>(d.width);
    plan.height[0] = plan.totalHeight = static_cast<uint32_t>(d.height);
    mac_shadow_hand_over_plan(r, plan, 0);
    return true;
}
