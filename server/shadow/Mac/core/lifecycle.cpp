// New, Free, Uninit, Stop and EnumMonitors, and the process-wide record.
#include <atomic>
#include <cstdlib>
#include <new>

#include "base/env.h"
#include "base/log.h"
#include "capture/mac_capture.h"
#include "control/control_sessions.h"
#include "desktop_session.h"
#include "layout/desktop_size.h"
#include "lifecycle.h"
#include "platform/platform.h"
#include "section_lock.h"
#include "server/shadow/ext/peer_guard.h"
#include "terminate.h"

namespace {
std::atomic<macShadowSubsystem*> gRecord{nullptr};
// The record whose locks exist: they live in its block and go with it.
std::atomic<macShadowSubsystem*> gLocksOf{nullptr};

void deleteLocks(macShadowSubsystem* record) {
    DeleteCriticalSection(&record->subsystemLock);
    DeleteCriticalSection(&record->frameLock);
    DeleteCriticalSection(&record->loginLock);
    DeleteCriticalSection(&record->displayLock);
}
} // namespace

void mac_shadow_create_locks(macShadowSubsystem* record) {
    InitializeCriticalSection(&record->subsystemLock);
    InitializeCriticalSection(&record->frameLock);
    InitializeCriticalSection(&record->loginLock);
    InitializeCriticalSection(&record->displayLock);
    gLocksOf.store(record);
}

extern "C" macShadowSubsystem* mac_shadow_record(void) {
    return gRecord.load();
}
extern "C" void mac_shadow_set_record(macShadowSubsystem* record) {
    gRecord.store(record);
}

extern "C" rdpShadowSubsystem* mac_shadow_subsystem_new(void) {
    void* block = std::calloc(1, sizeof(macShadowSubsystem));
    if (!block)
        return nullptr;
    auto* record = static_cast<macShadowSubsystem*>(block);
    // The input, login, connect, clipboard and layout callbacks are filled
    // in here by the components that own them as they are added.
    mac_shadow_fill_callbacks(record);
    return &record->common.base;
}

namespace {

// How long Free waits for a frame callback that is still running.
constexpr int32_t kCallbackEndMs = 5000;
// How long Free waits for the sound's capture to close its connection to the
// sound server (one that does not answer is left to the process's end).
constexpr int32_t kSoundEndMs = 1000;

// No capture callback may run once the record is gone. Streams restarted
// after the teardown's stop are stopped here (a restart checks tearingDown
// under displayLock, so none starts after this stop), and a callback still
// running (its stream's close gave up) is waited for. True when nothing
// can call into the record any more.
bool captureLetGo(macShadowSubsystem* record, bool haveLocks) {
    record->tearingDown.store(1);
    if (haveLocks) {
        SectionLock lock(record->displayLock);
        mac_capture_stop();
    } else {
        mac_capture_stop();
    }
    // The sound no longer reaches the record; its thread lets go of the
    // platform before the process may end.
    mac_capture_sound_settle(kSoundEndMs);
    return mac_capture_wait_idle(kCallbackEndMs) == 1;
}

} // namespace

extern "C" void mac_shadow_subsystem_free(rdpShadowSubsystem* subsystem) {
    if (!subsystem)
        return;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    macShadowSubsystem* expected = record;
    gRecord.compare_exchange_strong(expected, nullptr);
    const bool haveLocks = gLocksOf.load() == record;
    mac_shadow_end_subsystem_thread(record); // when Stop never ran
    if (haveLocks)
        mac_shadow_session_close(record, "server ending");
    if (!captureLetGo(record, haveLocks) || mac_shadow_subsystem_thread_running()) {
        // Disowned rather than freed: whatever still runs finds its record
        // and locks intact; the process is ending anyway.
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_subsystem_free",
                   "a capture callback or the subsystem thread is still running: the record is "
                   "left in place");
        return;
    }
    expected = record;
    if (gLocksOf.compare_exchange_strong(expected, nullptr))
        deleteLocks(record);
    std::free(record);
}

extern "C" int mac_shadow_subsystem_uninit(rdpShadowSubsystem* subsystem) {
    return subsystem ? 1 : -1;
}

extern "C" int mac_shadow_subsystem_stop(rdpShadowSubsystem* subsystem) {
    if (!subsystem)
        return -1;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    // The library waits for every connection to end after Stop: those still
    // logging in (possibly blocked in a handshake) are closed now.
    shadow_ext_peers_stopping();
    mac_shadow_teardown(record, "server stopping");
    mac_shadow_end_subsystem_thread(record);
    mac_control::stopChannel();
    return 1;
}

extern "C" UINT32 mac_shadow_enum_monitors(MONITOR_DEF* monitors, UINT32 maxMonitors) {
    if (!monitors || maxMonitors < 1)
        return 0;
    corvane::platform::MainDisplayInfo main;
    if (!corvane::platform::current().displays().mainDisplay(main))
        return 0;
    const double s = mac_shadow_share_scale(mac_env::native(), mac_env::scale());
    const DesktopSize size = mac_shadow_enum_size(main, s);
    monitors[0].left = 0;
    monitors[0].top = 0;
    monitors[0].right = size.width - 1;
    monitors[0].bottom = size.height - 1;
    monitors[0].flags = 1;
    return 1;
}
