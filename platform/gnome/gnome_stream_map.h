// Which recorded stream a point of the global display space falls on, and
// where on it: mutter takes absolute pointer motion in one stream's own
// coordinates, so with several monitors recorded (the real one and virtual
// ones beside it) motion must name the stream under the pointer.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../events.h"

namespace corvane::platform::gnome {

// A recorded stream's place in the compositor's layout (logical pixels).
struct GnomeStreamPlace {
    std::string streamPath;
    int32_t x = 0, y = 0, width = 0, height = 0;
};

struct GnomeStreamPoint {
    std::string streamPath;
    double x = 0, y = 0; // in the stream's own coordinates
};

// The stream whose area holds `at` (right and bottom edges excluded). A point
// on none of them (a client's edge, a gap between monitors) goes to the
// nearest stream, clamped onto its last pixel, so that the pointer still
// reaches the edge. Streams without a size are skipped; nothing when none is
// left.
std::optional<GnomeStreamPoint> gnomeStreamAt(const std::vector<GnomeStreamPlace>& streams,
                                              PointF at);

} // namespace corvane::platform::gnome
