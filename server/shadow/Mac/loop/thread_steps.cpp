// The client-dependent steps of a loop turn.
#include <algorithm>

#include <freerdp/settings.h>

#include "capture/mac_capture.h"
#include "base/clock.h"
#include "core/section_lock.h"
#include "frames.h"
#include "layout/virtual_displays.h"
#include "base/log.h"
#include "platform/platform.h"
#include "power.h"
#include "repaint.h"
#include "thread.h"

namespace {

bool known(const macShadowSubsystem* record, const rdpShadowClient* client) {
    for (int32_t i = 0; i < record->knownClientCount; ++i)
        if (record->knownClients[i] == client)
            return true;
    return false;
}

bool announcesLargePointer(rdpShadowClient* client) {
    const rdpSettings* settings = client->context.settings;
    return settings && (freerdp_settings_get_uint32(settings, FreeRDP_LargePointerFlag) & 0x1);
}

// Declares user activity at most every 4 s (sooner with fresh input).
void declareActivity(macShadowSubsystem* record, uint64_t now) {
    const bool due = record->inputSeen ? record->nextActivityDeclare <= now + 3000
                                       : record->nextActivityDeclare <= now;
    if (!due)
        return;
    record->inputSeen = false;
    auto& power = corvane::platform::current().power();
    if (const uint32_t id = power.declareUserActivity("Corvane remote session"))
        power.releaseAssertion(id);
    record->nextActivityDeclare = now + 4000;
}

} // namespace

ClientScan mac_shadow_scan_clients(macShadowSubsystem* record) {
    ClientScan scan;
    rdpShadowClient* active[16] = {};
    int32_t activeKept = 0;
    wArrayList* clients = record->common.base.server->clients;
    ArrayList_Lock(clients);
    const size_t count = ArrayList_Count(clients);
    scan.listEmpty = count == 0;
    for (size_t i = 0; i < count; ++i) {
        auto* client = static_cast<rdpShadowClient*>(ArrayList_GetItem(clients, i));
        if (!client || !client->activated)
            continue;
        scan.connected += 1;
        if (client->suppressOutput)
            continue;
        scan.active += 1;
        if (!announcesLargePointer(client))
            scan.pointerSizeClass = 32;
        if (record->knownClientCount == 0 || !known(record, client))
            scan.newClient = true;
        if (activeKept < 16)
            active[activeKept++] = client;
    }
    ArrayList_Unlock(clients);
    std::copy(active, active + 16, record->knownClients);
    record->knownClientCount = activeKept;
    return scan;
}

bool mac_shadow_restart_capture(macShadowSubsystem* record) {
    mac_capture_stop();
    // The log then says when the new capture's first picture comes.
    record->framesReceived.store(0);
    record->stoppedCountSeen = static_cast<uint64_t>(mac_capture_stopped_count());
    record->captureDown = mac_shadow_start_capture(record) != 0;
    // A virtual display that is gone never comes back to be captured.
    if (record->captureDown)
        mac_shadow_fall_back_if_gone(record);
    return !record->captureDown;
}

void mac_shadow_idle_and_awake(macShadowSubsystem* record, const ClientScan& scan, uint64_t now) {
    if (record->inputSeen || scan.newClient)
        record->lastRemoteInput = now;
    const bool recent = scan.connected > 0 && now - record->lastRemoteInput < record->idleAwakeMs;
    if (!recent) {
        if (scan.connected > 0 && !record->idleLogged) {
            MAC_LOG_FN(WLOG_INFO, "mac_shadow_subsystem_thread",
                       "no remote input for %llu min: %s screen may sleep and lock as "
                       "usual (the next input wakes it)",
                       static_cast<unsigned long long>(record->idleAwakeMs / 60000),
                       corvane::platform::current().terms().computers);
            record->idleLogged = true;
        }
        mac_shadow_keep_awake(record, false, scan.connected > 0);
        return;
    }
    record->idleLogged = false;
    if (!record->displayAssertionHeld) {
        const bool wasAsleep = mac_shadow_wake_display() == 1;
        if (wasAsleep || record->captureDown) {
            if (mac_shadow_restart_capture(record))
                MAC_LOG_FN(WLOG_INFO, "mac_shadow_screen_grab", "capture (re)started");
            else
                MAC_LOG_FN(WLOG_ERROR, "mac_shadow_screen_grab",
                           "%s capture still failed - is the screen on and %s?",
                           corvane::platform::current().terms().captureName,
                           corvane::platform::current().terms().screenAllowed);
        }
    }
    mac_shadow_keep_awake(record, true, scan.connected > 0);
    declareActivity(record, now);
    mac_shadow_capture_watchdog(record, now);
}

void mac_shadow_last_client_check(macShadowSubsystem* record, const ClientScan& scan,
                                  uint64_t now) {
    if (!scan.listEmpty) {
        record->noClientsSince = 0;
        return;
    }
    if (record->noClientsSince == 0)
        record->noClientsSince = now;
    if (!record->virtualActive || now - record->noClientsSince <= 5000)
        return;
    SectionLock lock(record->subsystemLock);
    if (!record->resizePending) {
        DesktopPlan plan = {};
        plan.count = 1;
        plan.width[0] = plan.totalWidth = static_cast<uint32_t>(record->initialWidth);
        plan.height[0] = plan.totalHeight = static_cast<uint32_t>(record->initialHeight);
        record->pendingPlan = plan;
        record->resizeRequestTick = 0;
        record->resizeSerial = ++record->resizeSerialCounter;
        record->resizePending = true;
        record->lastClientPlanValid = false;
        record->noClientsSince = 0;
    }
}

void mac_shadow_adaptive_handover(macShadowSubsystem* record, int32_t activeClients) {
    if (!record->adaptiveFps)
        return;
    SectionLock lock(record->frameLock);
    if (activeClients == 0) {
        record->targetFps = std::min(record->fps, 2);
        record->lowerSince = 0;
        record->activeClientsSeen = 0;
    } else if (record->activeClientsSeen == 0) {
        record->targetFps = record->fps;
        record->changeAverage = 0.5;
        record->lowerSince = 0;
        record->activeClientsSeen = activeClients;
    } else {
        record->activeClientsSeen = activeClients;
    }
    if (record->targetFps == record->captureFps)
        return;
    const int32_t fps = record->captureFps = record->targetFps;
    lock.unlock();
    if (fps >= 1)
        mac_capture_set_fps(fps);
}
