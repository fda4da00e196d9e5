// Start: report the permissions, install the termination handlers and begin.
#include "capture/mac_capture.h"
#include "lifecycle.h"
#include "log.h"
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

extern "C" int mac_shadow_subsystem_start(rdpShadowSubsystem* subsystem) {
    if (!subsystem)
        return -1;
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    mac_shadow_log_permissions();
    if (!mac_shadow_install_termination())
        MAC_WARN("termination handlers could not be installed");
    // No capture runs yet: the picture stays down until a capture starts.
    record->captureDown = true;
    return 1;
}
