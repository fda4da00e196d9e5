#include "clock.h"

#include <atomic>

#include <winpr/synch.h>
#include <winpr/sysinfo.h>

namespace {
std::atomic<uint64_t (*)(void)> gMs{nullptr};
std::atomic<uint64_t (*)(void)> gNs{nullptr};
std::atomic<void (*)(uint32_t)> gSleep{nullptr};
} // namespace

extern "C" uint64_t mac_now_ms(void) {
    auto fn = gMs.load(std::memory_order_relaxed);
    return fn ? fn() : winpr_GetTickCount64();
}

extern "C" uint64_t mac_now_ns(void) {
    auto fn = gNs.load(std::memory_order_relaxed);
    return fn ? fn() : winpr_GetTickCount64NS();
}

extern "C" void mac_set_clock_for_tests(uint64_t (*nowMs)(void)) {
    gMs.store(nowMs);
}
extern "C" void mac_set_ns_clock_for_tests(uint64_t (*nowNs)(void)) {
    gNs.store(nowNs);
}

extern "C" void mac_sleep_ms(uint32_t ms) {
    auto fn = gSleep.load(std::memory_order_relaxed);
    fn ? fn(ms) : Sleep(ms);
}

extern "C" void mac_set_sleep_for_tests(void (*sleepMs)(uint32_t)) {
    gSleep.store(sleepMs);
}
