// The one clock of the subsystem core: a 64-bit millisecond tick counter for
// schedules and a nanosecond counter for measurements. Tests replace both.
#pragma once
#include <cstdint>

extern "C" {
uint64_t mac_now_ms(void);
uint64_t mac_now_ns(void);
// Replaces the clocks (null restores the real ones).
void mac_set_clock_for_tests(uint64_t (*nowMs)(void));
void mac_set_ns_clock_for_tests(uint64_t (*nowNs)(void));
// Waits; tests replace it to move their clock on instead.
void mac_sleep_ms(uint32_t ms);
void mac_set_sleep_for_tests(void (*sleepMs)(uint32_t));
}
