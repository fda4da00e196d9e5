// The adaptive capture frame rate: how much of the screen changes decides
// how often it is captured. Lowering waits 1.5 s so short pauses do not make
// the rate flap; raising is immediate. Pure.
#pragma once
#include <cstdint>

struct FrameRateState {
    int32_t fps = 30;      // configured rate
    int32_t targetFps = 2; // rate wanted now
    int32_t activeClientsSeen = 0;
    double changeAverage = 0; // moving average of the changed share
    uint64_t lowerSince = 0;  // since when a lower rate is wanted, 0 = not
};

// Share of the frame covered by the rectangles (clipped to the frame), at
// most 1; 1 when the frame carries no rectangles.
double mac_shadow_changed_share(const int32_t* rects, int32_t rectCount, int32_t width,
                                int32_t height);
// The rate wanted for a changed share, updating the moving average.
int32_t mac_shadow_wanted_fps(FrameRateState& s, double changedShare);
// One frame's effect on targetFps.
void mac_shadow_adapt_fps(FrameRateState& s, double changedShare, uint64_t now);
