// The apply step: the subsystem thread gives the desktop the size and
// monitors of a plan, with virtual displays or the real screen, and
// restarts the capture. Runs under displayLock.
#include "plan_apply.h"

#include <algorithm>

#include "base/clock.h"
#include "base/log.h"
#include "capture/mac_capture.h"
#include "core/host.h"
#include "core/section_lock.h"
#include "loop/frames.h"
#include "loop/power.h"
#include "loop/repaint.h"
#include "platform/platform.h"
#include "virtual_displays.h"

namespace {

constexpr uint64_t kSleepHoldMs = 10000;
// How long a resize waits for the clients to draw the frames they were sent.
constexpr uint64_t kResizeDrainMs = 250;
constexpr uint32_t kResizeDrainStepMs = 5;
constexpr size_t kOnlineLooked = 32;

#define APPLY_LOG(level, ...) MAC_LOG_FN(level, "mac_shadow_apply_resize_locked", __VA_ARGS__)

bool anyHidpi(const DesktopPlan& plan) {
    for (uint32_t i = 0; i < plan.count; ++i)
        if (plan.hidpi[i])
            return true;
    return false;
}

bool sameMonitors(const DesktopPlan& a, const DesktopPlan& b) {
    if (a.count != b.count || a.totalWidth != b.totalWidth || a.totalHeight != b.totalHeight)
        return false;
    for (uint32_t i = 0; i < a.count && i < 16; ++i)
        if (a.x[i] != b.x[i] || a.y[i] != b.y[i] || a.width[i] != b.width[i] ||
            a.height[i] != b.height[i] || (a.hidpi[i] != 0) != (b.hidpi[i] != 0))
            return false;
    return true;
}

void markApplied(macShadowSubsystem* r, int32_t serial) {
    __atomic_exchange_n(&r->appliedSerial, serial, __ATOMIC_ACQ_REL);
}

// Step 1: the plan changes nothing that can be seen.
bool nothingToDo(const macShadowSubsystem* r, const DesktopPlan& plan) {
    if (!plan.useVirtual)
        return !r->virtualActive && plan.count == 1 &&
               static_cast<int32_t>(plan.totalWidth) == r->desktopWidth &&
               static_cast<int32_t>(plan.totalHeight) == r->desktopHeight;
    return r->virtualActive && sameMonitors(plan, r->currentPlan);
}

bool anyOnlineAsleep() {
    auto& cfg = corvane::platform::current().displayConfig();
    for (uint32_t id : cfg.onlineDisplays(kOnlineLooked))
        if (cfg.asleep(id))
            return true;
    return false;
}

// Step 2: virtual displays are never rebuilt while the screen sleeps. True
// when the plan was put off.
bool putOffWhileAsleep(macShadowSubsystem* r, const DesktopPlan& plan, int32_t serial) {
    if (!r->virtualActive && r->virtualCount == 0 && r->mirroredCount == 0)
        return false;
    auto& cfg = corvane::platform::current().displayConfig();
    const uint32_t main = cfg.mainDisplay();
    bool asleep = cfg.asleep(main);
    if (asleep) {
        mac_shadow_wake_display();
        asleep = cfg.asleep(main);
    } else if (anyOnlineAsleep()) {
        mac_shadow_wake_display();
        asleep = anyOnlineAsleep();
    }
    if (!asleep)
        return false;
    {
        SectionLock lock(r->subsystemLock);
        if (!r->resizePending) {
            r->pendingPlan = plan;
            r->resizeSerial = serial;
            r->resizePending = true;
        }
        r->resizeHoldUntil = mac_now_ms() + kSleepHoldMs;
    }
    if (r->lastDeferredSerial != serial) {
        r->lastDeferredSerial = serial;
        APPLY_LOG(WLOG_WARN,
                  "%s screen is asleep: keeping the virtual displays until it is on "
                  "(changing to %dx%d then)",
                  corvane::platform::current().terms().computers, plan.totalWidth,
                  plan.totalHeight);
    }
    return true;
}

void logChange(macShadowSubsystem* r, const DesktopPlan& plan) {
    {
        SectionLock lock(r->subsystemLock);
        r->resizeHoldUntil = 0;
    }
    APPLY_LOG(WLOG_INFO, "changing the desktop to %dx%d (%d monitor%s, %s%s)", plan.totalWidth,
              plan.totalHeight, plan.count, plan.count == 1 ? "" : "s",
              plan.useVirtual ? "virtual displays" : "the real screen",
              anyHidpi(plan) ? ", HiDPI" : "");
}

int32_t downToEven(double v) {
    return static_cast<int32_t>(v) & ~1;
}

// Step 9: one monitor of the plan's size showing the real screen, fitted
// with its own shape and centred.
void realScreenPlan(const macShadowSubsystem* r, DesktopPlan& plan, DisplayMapping& mapping,
                    MacRect& captureRect) {
    const uint32_t w = plan.totalWidth, h = plan.totalHeight;
    plan = DesktopPlan{};
    plan.count = 1;
    plan.width[0] = plan.totalWidth = w;
    plan.height[0] = plan.totalHeight = h;
    const auto tw = static_cast<int32_t>(w), th = static_cast<int32_t>(h);
    captureRect = {0, 0, tw, th};
    mapping = {0, 0, tw, th, 0.0, 0.0, 1.0};
    if (r->mainPointsWidth <= 0 || r->mainPointsHeight <= 0)
        return;
    const double s = std::min(static_cast<double>(w) / r->mainPointsWidth,
                              static_cast<double>(h) / r->mainPointsHeight);
    const int32_t cw = std::min(downToEven(s * r->mainPointsWidth + 0.5), tw);
    const int32_t ch = std::min(downToEven(s * r->mainPointsHeight + 0.5), th);
    captureRect = {((tw - cw) / 2) & ~1, ((th - ch) / 2) & ~1, cw, ch};
    mapping = {captureRect.x, captureRect.y, cw, ch, 0.0, 0.0, 1.0 / s};
}

void fillMonitorTable(macShadowSubsystem* r, const DesktopPlan& plan) {
    rdpShadowSubsystem* base = &r->common.base;
    base->numMonitors = plan.count;
    for (uint32_t i = 0; i < plan.count && i < 16; ++i) {
        MONITOR_DEF& m = base->monitors[i];
        m.left = plan.x[i];
        m.top = plan.y[i];
        m.right = plan.x[i] + static_cast<int32_t>(plan.width[i]) - 1;
        m.bottom = plan.y[i] + static_cast<int32_t>(plan.height[i]) - 1;
        m.flags = i == 0 ? 1 : 0;
    }
    base->virtualScreen.left = 0;
    base->virtualScreen.top = 0;
    base->virtualScreen.right = static_cast<int32_t>(plan.totalWidth) - 1;
    base->virtualScreen.bottom = static_cast<int32_t>(plan.totalHeight) - 1;
    base->virtualScreen.flags = 1;
    r->common.layoutChanged = 1;
}

// FreeRDP's client (3.10 to 3.15) draws a graphics-pipeline frame on its
// channel's thread into the picture that a desktop resize replaces on its
// main thread, and can crash when the two meet. So the resize waits, at most
// kResizeDrainMs, until every client has acknowledged the frames sent to it;
// the caller holds the frame lock, so none is published meanwhile.
void waitForDrawnFrames(macShadowSubsystem* r) {
    if (!r->common.base.server || !r->common.base.server->clients)
        return;
    const uint64_t until = mac_now_ms() + kResizeDrainMs;
    while (mac_shadow_largest_inflight(r) > 0 && mac_now_ms() < until)
        mac_sleep_ms(kResizeDrainStepMs);
}

// Step 10: the result goes to frames, input and the shadow server.
void publishResult(macShadowSubsystem* r, const DesktopPlan& plan, const DisplayMapping* mappings,
                   int32_t mappingCount, const MacRect& captureRect) {
    SectionLock frame(r->frameLock);
    waitForDrawnFrames(r);
    {
        SectionLock lock(r->subsystemLock);
        r->pictureCaptured = false;
        __atomic_store_n(&r->desktopWidth, static_cast<int32_t>(plan.totalWidth), __ATOMIC_RELEASE);
        __atomic_store_n(&r->desktopHeight, static_cast<int32_t>(plan.totalHeight),
                         __ATOMIC_RELEASE);
        r->currentPlan = plan;
        std::copy(mappings, mappings + mappingCount, r->mappings);
        r->mappingCount = mappingCount;
        r->captureRect = captureRect;
        fillMonitorTable(r, plan);
    }
    rdpShadowServer* server = r->common.base.server;
    if (!server || !mac_shadow_host().screenResize(server))
        APPLY_LOG(WLOG_ERROR, "shadow_screen_resize failed");
}

void restartCapture(macShadowSubsystem* r) {
    r->stoppedCountSeen = static_cast<uint64_t>(mac_capture_stopped_count());
    r->captureDown = mac_shadow_start_capture(r) != 0;
    if (r->captureDown)
        APPLY_LOG(WLOG_WARN, "could not restart the capture after the layout change (screen "
                             "asleep?); retrying later");
}

} // namespace

int mac_shadow_apply_plan_locked(macShadowSubsystem* r, const DesktopPlan* wanted, int32_t serial,
                                 uint64_t now) {
    (void)now;
    if (!r || !wanted)
        return 0;
    if (nothingToDo(r, *wanted)) {
        markApplied(r, serial);
        return 0;
    }
    if (putOffWhileAsleep(r, *wanted, serial))
        return 0;
    logChange(r, *wanted);
    mac_capture_stop();

    DesktopPlan plan = *wanted;
    DisplayMapping mappings[16] = {};
    int32_t mappingCount = 1;
    MacRect captureRect{0, 0, static_cast<int32_t>(plan.totalWidth),
                        static_cast<int32_t>(plan.totalHeight)};
    bool virtualBuilt = false;
    if (plan.useVirtual) {
        const KeptDisplays kept = mac_shadow_clear_for_plan(r, plan);
        virtualBuilt = mac_shadow_build_virtual(r, plan, kept, mappings);
        if (!virtualBuilt)
            APPLY_LOG(WLOG_WARN, "falling back to the real screen (one monitor)");
    } else {
        mac_shadow_destroy_virtual(r);
    }
    if (virtualBuilt)
        mappingCount = static_cast<int32_t>(plan.count);
    else
        realScreenPlan(r, plan, mappings[0], captureRect);

    publishResult(r, plan, mappings, mappingCount, captureRect);
    restartCapture(r);
    // The 2 s between applies count from the end of this one.
    r->lastResizeTick = mac_now_ms();
    markApplied(r, serial);
    return 1;
}
