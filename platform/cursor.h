// The pointer the user sees: a cheap identity that changes with its image,
// and the image itself.
#pragma once
#include <cstdint>
#include <vector>

namespace corvane::platform {

// One pixel size of a cursor image: premultiplied B, G, R, A rows top-down,
// 4 * pixelWidth bytes per row.
struct CursorRepresentation {
    int32_t pixelWidth = 0;
    int32_t pixelHeight = 0;
    std::vector<uint8_t> bgra;
};

// The current cursor: its size and hot spot in points (from the top-left
// corner) and the pixel sizes it is available in, in no particular order.
struct CursorImage {
    double pointsWidth = 0;
    double pointsHeight = 0;
    double hotX = 0;
    double hotY = 0;
    std::vector<CursorRepresentation> representations;
};

class CursorSource {
  public:
    virtual ~CursorSource() = default;
    // A non-negative value that changes whenever the cursor image changes;
    // -1 when the identity cannot be read.
    virtual int32_t seed() = 0;
    // False when there is no cursor to show.
    virtual bool current(CursorImage& out) = 0;
};

} // namespace corvane::platform
