// Start: report the permissions, install the termination handlers and begin.
#include <atomic>

#include "capture/mac_capture.h"
#include "base/clock.h"
#include "loop/frames.h"
#include "lifecycle.h"
#include "base/log.h"
#include "layout/main_display_watch.h"
#include "platform/platform.h"
#include "loop/power.h"
#include "sharing/sound.h"
#include "terminate.h"
#include "loop/thread.h"

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

// Said once at start: an account the service cannot check reads as a wrong
// password, and three of those lock the client's address out.
void mac_shadow_log_login_accounts(const rdpShadowServer* server) {
    if (!server || !server->authentication)
        return;
    const auto reach = corvane::platform::current().accounts().reach();
    if (reach.everyAccount)
        MAC_INFO("password logins: every local account can log in with its own password");
    else
        MAC_WARN("password logins: only the account '%s' can log in (%s); any other account "
                 "reads as a wrong password",
                 reach.onlyAccount.c_str(), reach.why.c_str());
}

namespace {

// The subsystem thread runs until Stop asks it to end; Stop must not return
// while it still uses the record the shadow server is about to free.
HANDLE gSubsystemThread = nullptr;
// Set when the thread did not end when asked: it may still use the record.
std::atomic<bool> gThreadLeftRunning{false};

// Starts the capture, trying up to four times with the screen woken between.
void startCaptureWithRetries(macShadowSubsystem* record) {
    record->captureDown = true;
    record->captureDown = mac_shadow_start_capture(record) != 0;
    for (int retry = 0; retry < 3 && record->captureDown; ++retry) {
        mac_capture_stop();
        mac_sleep_ms(1000);
        mac_shadow_wake_display();
        record->captureDown = mac_shadow_start_capture(record) != 0;
    }
    if (record->captureDown)
        MAC_ERROR("%s capture failed - is the screen on and %s? Trying again when a client "
                  "connects",
                  corvane::platform::current().terms().captureName,
                  corvane::platform::current().terms().screenAllowed);
}

} // namespace

extern "C" int mac_shadow_subsystem_start(rdpShadowSubsystem* subsystem) {
    if (!subsystem)
        return -1;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    mac_shadow_log_permissions();
    mac_shadow_log_login_accounts(subsystem->server);
    // Before the first capture: only streams started afterwards carry sound.
    mac_shadow_sound_start(record);
    if (!mac_shadow_install_termination())
        MAC_WARN("termination handlers could not be installed");
    mac_shadow_watch_main_display();
    mac_shadow_wake_display();
    startCaptureWithRetries(record);
    HANDLE thread = CreateThread(nullptr, 0, mac_shadow_subsystem_thread, record, 0, nullptr);
    if (!thread) {
        MAC_ERROR("Failed to create thread");
        return -1;
    }
    gSubsystemThread = thread;
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
