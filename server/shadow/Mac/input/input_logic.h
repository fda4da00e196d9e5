// The decisions of remote input that need no platform: text from UTF-16
// code units, wheel lines, desktop-to-host mapping and click counting.
#pragma once
#include <cstdint>

#include <freerdp/input.h>

#include "mac_shadow.h"

namespace mac_input {

// Unicode key events arrive one UTF-16 unit at a time; a surrogate pair is
// held back until its second half.
struct TextStep {
    int count = 0; // units to post: 0 (nothing), 1 or 2
    char16_t units[2] = {0, 0};
};
TextStep unicodeStep(uint16_t& pendingHigh, uint16_t flags, uint16_t code);

// Lines for a vertical wheel event: the low 8 bits, nine-bit negative with
// 0x0100, divided by 40 towards zero.
int32_t wheelLines(uint16_t flags);

struct HostPoint {
    double x = 0;
    double y = 0;
};
// Desktop pixel to host point through the nearest mapping, clamped into
// it; the pixel itself without mappings.
HostPoint mapToHost(const DisplayMapping* mappings, int32_t count, int32_t x, int32_t y);

struct ClickHistory {
    uint64_t tick = 0;
    int32_t button = 0;
    double x = 0, y = 0;
    int32_t count = 0;
};
// The click count of a button press (1 single, 2 double, ...). A press
// further than 4 points away, of another button or later than the
// double-click interval starts again at 1.
int32_t nextClickCount(const ClickHistory& last, uint64_t now, int32_t button, HostPoint at,
                       int32_t doubleClickMs);

} // namespace mac_input
