// How big the remote desktop starts out, from the main display's size and the
// share scale, and where the real screen's picture lies within it. Pure.
#pragma once
#include <cstdint>

#include "platform/types.h"

struct InitialDesktop {
    int32_t width = 0, height = 0;
    bool hidpi = false;                 // the main display runs at exactly 2x
    int32_t x = 0, y = 0, w = 0, h = 0; // the real screen's picture in the desktop
    double pointsPerPixel = 1;
};

struct DesktopSize {
    int32_t width = 0, height = 0;
};

// The share scale: 1.0 for native sharing, a valid explicit scale overrides;
// 0 means "share a HiDPI display at its point size".
double mac_shadow_share_scale(bool native, double explicitScale);
InitialDesktop mac_shadow_initial_desktop(const corvane::platform::MainDisplayInfo& main,
                                          double shareScale);
// The monitor size reported when the server asks for the monitor list.
DesktopSize mac_shadow_enum_size(const corvane::platform::MainDisplayInfo& main, double shareScale);
