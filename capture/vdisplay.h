// How the capture bridge describes a virtual display to the platform.
#pragma once
#include <cstdint>

#include "platform/display_config.h"

namespace corvane::capture {

// Name "Corvane Display <index + 1>", vendor 0x4356, a product number that
// differs between monitors and between consecutive creation rounds, a serial
// number whose parts (index, 2x, width, height) do not overlap, and a
// physical size of 110 points per inch.
platform::VirtualDisplayDescriptor vdisplayDescriptor(uint32_t width, uint32_t height,
                                                      int32_t refreshRate, int32_t index,
                                                      uint32_t toggle, int32_t hidpi);

} // namespace corvane::capture
