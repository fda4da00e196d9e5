// Reads the cursor an X display shows, through XFixes.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct ShownCursor {
    int width = 0, height = 0, xhot = 0, yhot = 0;
    std::vector<uint32_t> argb; // premultiplied
    bool operator==(const ShownCursor&) const = default;
};

std::optional<ShownCursor> shownCursor(const std::string& display);
// Whether `shown` is drawn from `source`: same size and hot spot, every
// visible pixel visible in the source with its colour (within tolerance),
// and at least a quarter of the source's visible pixels shown. The packaged
// shadow library sends 24-bit pointers, which the client draws without
// their black pixels.
bool drawnFrom(const ShownCursor& shown, const ShownCursor& source, int tolerance);

} // namespace e2e
