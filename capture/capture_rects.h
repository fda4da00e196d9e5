// The change list of a frame as the core receives it.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/capture.h"

namespace corvane::capture {

inline constexpr size_t kMaxRects = 64;

// Four values per rectangle: x and y truncated toward zero, width and height
// truncated toward zero plus 1, clipped to the frame (a rectangle left empty
// is skipped). A list of more than 64 entries, like an empty one, gives no
// values: the frame then carries no usable change information.
std::vector<int32_t> roundDirtyRects(const std::vector<platform::DirtyRect>& dirty,
                                     int32_t frameWidth, int32_t frameHeight);

} // namespace corvane::capture
