// Start: report the permissions, install the termination handlers and begin.
#include <atomic>

#include "base/clock.h"
#include "base/log.h"
#include "capture/mac_capture.h"
#include "control/control_sessions.h"
#include "layout/main_display_watch.h"
#include "lifecycle.h"
#include "logins/connection_log.h"
#include "loop/frames.h"
#include "loop/power.h"
#include "loop/thread.h"
#include "platform/platform.h"
#include "sharing/sound.h"
#include "terminate.h"

void mac_shadow_log_permissions(void) {
    if (mac_accessibility_trusted(0))
        MAC_INFO("Accessibility permission: granted (keyboard injection allowed)");
    else
        MAC_WARN("Accessibility permission: NOT granted - keyboard input will be dropped. Use "
                 "Repair Permissions in the Corvane menu and switch on Corvane Server");
    if (mac_screen_access(0))
        MAC_INFO("Screen Recording permission: granted");
    else
        MAC_WARN("Screen Recording permission: NOT granted - use Repair Permissions in the "
                 "Corvane menu and switch on Corvane Server");
}

// Said once at start: a desktop that takes no input from us makes every
// client view-only, and its input is dropped without a word per event.
void mac_shadow_check_input_available(macShadowSubsystem* record) {
    const bool available = corvane::platform::current().events().inputAvailable();
    record->viewOnly.store(!available);
    if (!available)
        MAC_WARN("input: this desktop takes no keyboard or mouse input from the server: every "
                 "client is view-only");
}

namespace {

// The subsystem thread runs until Stop asks it to end; Stop must not return
// while it still uses the record the shadow server is about to free.
HANDLE gSubsystemThread = nullptr;
// Set when the thread did not end when asked: it may still use the record.
std::atomic<bool> gThreadLeftRunning{false};

} // namespace

extern "C" int mac_shadow_subsystem_start(rdpShadowSubsystem* subsystem) {
    if (!subsystem)
        return -1;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    mac_shadow_log_permissions();
    mac_shadow_check_input_available(record);
    mac_shadow_log_login_accounts(record, subsystem->server);
    mac_control::logAskSettings();
    mac_connection_log_open();
    // Before the first capture: only streams started afterwards carry sound.
    mac_shadow_sound_start(record);
    if (!mac_shadow_install_termination())
        MAC_WARN("termination handlers could not be installed");
    mac_shadow_watch_main_display();
    mac_shadow_wake_display();
    mac_control::startChannel(record);
    // The capture starts once the first client has opened the desktop
    // session (core/desktop_session.h).
    HANDLE thread = CreateThread(nullptr, 0, mac_shadow_subsystem_thread, record, 0, nullptr);
    if (!thread) {
        MAC_ERROR("Failed to create thread");
        return -1;
    }
    gSubsystemThread = thread;
    MAC_INFO("started: the desktop is captured once the first client connects");
    return 1;
}

void mac_shadow_end_subsystem_thread(macShadowSubsystem* record) {
    HANDLE thread = gSubsystemThread;
    if (!thread)
        return;
    gSubsystemThread = nullptr;
    if (record->common.base.MsgPipe)
        MessageQueue_PostQuit(record->common.base.MsgPipe->In, 0);
    if (WaitForSingleObject(thread, 5000) != WAIT_OBJECT_0) {
        MAC_WARN("the subsystem thread did not end within 5 s");
        gThreadLeftRunning.store(true);
    }
    (void)CloseHandle(thread);
}

bool mac_shadow_subsystem_thread_running(void) {
    return gThreadLeftRunning.load();
}
