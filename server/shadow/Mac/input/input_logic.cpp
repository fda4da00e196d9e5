#include "input_logic.h"

#include <cmath>
#include <limits>

namespace mac_input {

namespace {
constexpr uint16_t kKeyRelease = 0x8000;
constexpr double kSamePlacePoints = 4.0;

bool isHigh(uint16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLow(uint16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Distance of a coordinate from the span [left, left + size) in pixels.
int64_t outside(int32_t v, int32_t left, int32_t size) {
    if (v < left)
        return static_cast<int64_t>(left) - v;
    const int64_t end = static_cast<int64_t>(left) + size;
    if (v >= end)
        return v + 1 - end;
    return 0;
}

int32_t clampInto(int32_t offset, int32_t size) {
    if (offset < 0 || size <= 0)
        return 0;
    return offset > size - 1 ? size - 1 : offset;
}
} // namespace

TextStep unicodeStep(uint16_t& pendingHigh, uint16_t flags, uint16_t code) {
    TextStep step;
    const bool down = (flags & kKeyRelease) == 0;
    if (isHigh(code)) {
        if (down)
            pendingHigh = code;
        return step;
    }
    if (isLow(code)) {
        if (pendingHigh == 0)
            return step;
        step.count = 2;
        step.units[0] = pendingHigh;
        step.units[1] = code;
        if (!down)
            pendingHigh = 0;
        return step;
    }
    step.count = 1;
    step.units[0] = code;
    return step;
}

int32_t wheelLines(uint16_t flags) {
    int32_t rotation = flags & 0xFF;
    if (flags & PTR_FLAGS_WHEEL_NEGATIVE)
        rotation -= 0x100;
    return rotation / 40; // C++ division truncates towards zero
}

HostPoint mapToHost(const DisplayMapping* mappings, int32_t count, int32_t x, int32_t y) {
    if (!mappings || count <= 0)
        return {static_cast<double>(x), static_cast<double>(y)};
    int32_t best = 0;
    int64_t bestDistance = std::numeric_limits<int64_t>::max();
    for (int32_t i = 0; i < count; ++i) {
        const DisplayMapping& m = mappings[i];
        const int64_t dx = outside(x, m.x, m.width);
        const int64_t dy = outside(y, m.y, m.height);
        const int64_t distance = dx * dx + dy * dy;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    const DisplayMapping& m = mappings[best];
    const int32_t px = clampInto(x - m.x, m.width);
    const int32_t py = clampInto(y - m.y, m.height);
    return {m.macX + m.pointsPerPixel * px, m.macY + m.pointsPerPixel * py};
}

int32_t nextClickCount(const ClickHistory& last, uint64_t now, int32_t button, HostPoint at,
                       int32_t doubleClickMs) {
    const bool moved =
        std::fabs(at.x - last.x) > kSamePlacePoints || std::fabs(at.y - last.y) > kSamePlacePoints;
    const bool late =
        now < last.tick ||
        now - last.tick > static_cast<uint64_t>(doubleClickMs < 0 ? 0 : doubleClickMs);
    if (moved || button != last.button || last.count < 1 || late)
        return 1;
    return last.count + 1;
}

} // namespace mac_input
