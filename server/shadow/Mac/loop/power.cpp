#include "power.h"

#include "base/clock.h"
#include "base/log.h"
#include "core/section_lock.h"
#include "platform/platform.h"

using corvane::platform::AssertionKind;

namespace {
constexpr const char* kDisplayReason = "Corvane: someone is using this Mac remotely";
constexpr const char* kSystemReason = "Corvane: someone is signed in remotely";
constexpr const char* kUserActivity = "Corvane remote session";
constexpr const char* kSystemActivity = "Corvane: a client connected";

corvane::platform::Power& power() {
    return corvane::platform::current().power();
}

void declareAndRelease(bool system) {
    auto& p = power();
    const uint32_t id =
        system ? p.declareSystemActivity(kSystemActivity) : p.declareUserActivity(kUserActivity);
    if (id)
        p.releaseAssertion(id);
}
} // namespace

bool mac_shadow_wait_awake(int tries) {
    for (int i = 0; i < tries; ++i) {
        if (!power().displayAsleep())
            return true;
        mac_sleep_ms(100);
    }
    return !power().displayAsleep();
}

namespace {

void keepAwakeLocked(macShadowSubsystem* record, bool display, bool system) {
    auto& p = power();
    if (!display && record->displayAssertionHeld) {
        p.releaseAssertion(record->displayAssertionId);
        record->displayAssertionHeld = false;
    } else if (display && !record->displayAssertionHeld) {
        if (uint32_t id = p.createAssertion(AssertionKind::PreventDisplaySleep, kDisplayReason)) {
            record->displayAssertionId = id;
            record->displayAssertionHeld = true;
        }
    }
    if (!system && record->systemAssertionId != 0) {
        p.releaseAssertion(record->systemAssertionId);
        record->systemAssertionId = 0;
    } else if (system && record->systemAssertionId == 0) {
        record->systemAssertionId =
            p.createAssertion(AssertionKind::PreventSystemSleep, kSystemReason);
    }
}
} // namespace

extern "C" void mac_shadow_keep_awake(macShadowSubsystem* record, bool display, bool system) {
    // Under displayLock, which the teardown holds while it releases: once it
    // has set tearingDown, no turn of the subsystem thread takes an
    // assertion again.
    SectionLock lock(record->displayLock);
    if (record->tearingDown.load())
        display = system = false;
    keepAwakeLocked(record, display, system);
}

extern "C" int mac_shadow_wake_display(void) {
    if (!power().displayAsleep()) {
        declareAndRelease(false);
        return 0;
    }
    declareAndRelease(true);
    declareAndRelease(false);
    if (!mac_shadow_wait_awake(40)) {
        power().nudgePointer();
        mac_shadow_wait_awake(40);
    }
    mac_sleep_ms(300);
    MAC_INFO("%s screen was asleep: %s", corvane::platform::current().terms().computers,
             power().displayAsleep() ? "could not wake it" : "woke it");
    return 1;
}
