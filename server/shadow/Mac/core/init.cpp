// Init: the probe, the locks, the NLA login, the rates and the desktop size.
#include "server/shadow/ext/peer_guard.h"
#include "base/clock.h"
#include "capture/mac_capture.h"
#include "layout/desktop_size.h"
#include "base/env.h"
#include "lifecycle.h"
#include "base/log.h"
#include "platform/platform.h"
#include "probe.h"

void mac_shadow_init_rates(macShadowSubsystem* record) {
    record->fps = mac_env::fps();
    record->targetFps = record->fps < 2 ? record->fps : 2;
    record->captureFps = record->fps;
    record->activeClientsSeen = 0;
    record->changeAverage = 0;
    record->lowerSince = 0;
    record->adaptiveFps = mac_env::adaptiveFps();
    record->idleAwakeMs = mac_env::idleAwakeMs();
}

bool mac_shadow_init_desktop(macShadowSubsystem* record) {
    // A server that was killed may have left the screen as its client had it.
    corvane::platform::current().displayConfig().recover();
    corvane::platform::MainDisplayInfo main;
    if (!corvane::platform::current().displays().mainDisplay(main) || main.pixelWidth <= 0 ||
        main.pixelHeight <= 0) {
        MAC_ERROR("cannot measure the main display: no desktop to share");
        return false;
    }
    record->mainPixelWidth = main.pixelWidth;
    record->mainPixelHeight = main.pixelHeight;
    record->mainPointsWidth = main.pointsWidth;
    record->mainPointsHeight = main.pointsHeight;
    const double s = mac_shadow_share_scale(mac_env::native(), mac_env::scale());
    const InitialDesktop d = mac_shadow_initial_desktop(main, s);
    record->mainDisplayHiDPI = d.hidpi;
    record->desktopWidth = record->initialWidth = d.width;
    record->desktopHeight = record->initialHeight = d.height;
    record->mappingCount = 1;
    record->mappings[0] = {d.x, d.y, d.w, d.h, 0.0, 0.0, d.pointsPerPixel};
    record->captureRect = {d.x, d.y, d.w, d.h};

    rdpShadowSubsystem* base = &record->common.base;
    base->numMonitors = 1;
    base->monitors[0].left = 0;
    base->monitors[0].top = 0;
    base->monitors[0].right = d.width - 1;
    base->monitors[0].bottom = d.height - 1;
    base->monitors[0].flags = 1;
    return true;
}

extern "C" int mac_shadow_subsystem_init(rdpShadowSubsystem* subsystem) {
    mac_shadow_probe_if_requested();
    if (!subsystem)
        return -1;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    mac_shadow_create_locks(record);
    // The extension layer's login grace time and stall bounds run on the
    // subsystem's clock.
    shadow_ext_set_clock(mac_now_ms);
    // Published only once its locks exist: a signal may reach it any time.
    mac_shadow_set_record(record);
    mac_shadow_nla_configure(record);
    mac_shadow_allow_configure(record);
    mac_shadow_init_rates(record);
    record->clipboardChangeCount.store(mac_clipboard_change_count());
    return mac_shadow_init_desktop(record) ? 1 : -1;
}
