// Value types shared by every platform service. No system headers here.
#pragma once
#include <cstdint>

namespace corvane::platform {

struct Rect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const Rect&) const = default;
};

// The main display as the desktop sees it: its current mode in pixels and
// its size in points (logical units; pixels / scale).
struct MainDisplayInfo {
    int32_t pixelWidth = 0;
    int32_t pixelHeight = 0;
    int32_t pointsWidth = 0;
    int32_t pointsHeight = 0;
    bool operator==(const MainDisplayInfo&) const = default;
};

} // namespace corvane::platform
