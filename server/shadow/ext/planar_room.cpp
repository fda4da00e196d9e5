#include "planar_room.h"

#include <mutex>
#include <unordered_map>

namespace {

// The buffers are kept only when larger than asked for by more than their
// alignment (32 bytes), and the smallest holds 4 bytes a plane pixel.
constexpr size_t kSlack = 16;
// Grown by an eighth, so that a frame a little larger does not grow it again.
constexpr size_t kGrowthDivisor = 8;

std::mutex gMutex;
std::unordered_map<const BITMAP_PLANAR_CONTEXT*, size_t> gRoom;

uint32_t roundUp4(uint32_t v) {
    return (v + 3) & ~uint32_t{3};
}

} // namespace

size_t shadow_ext_planar_plane(uint32_t width, uint32_t height) {
    return size_t{roundUp4(width)} * roundUp4(height);
}

std::optional<ShadowExtPlanarGrowth> shadow_ext_planar_growth(size_t room, uint32_t width,
                                                              uint32_t height) {
    const size_t plane = shadow_ext_planar_plane(width, height);
    if (plane == 0 || plane + kSlack < room)
        return std::nullopt;
    const uint32_t w = roundUp4(width);
    const size_t wanted = plane + plane / kGrowthDivisor + 2 * kSlack;
    const auto h = static_cast<uint32_t>((wanted + w - 1) / w);
    return ShadowExtPlanarGrowth{w, h, shadow_ext_planar_plane(w, h)};
}

BOOL shadow_ext_planar_reset_with_room(BOOL (*reset)(BITMAP_PLANAR_CONTEXT*, UINT32, UINT32),
                                       BITMAP_PLANAR_CONTEXT* context, UINT32 width,
                                       UINT32 height) {
    if (!context)
        return reset(context, width, height);
    size_t room = 0;
    {
        std::lock_guard lock(gMutex);
        room = gRoom[context];
    }
    if (auto growth = shadow_ext_planar_growth(room, width, height)) {
        const bool grown = reset(context, growth->width, growth->height);
        std::lock_guard lock(gMutex);
        gRoom[context] = grown ? growth->room : 0;
    }
    return reset(context, width, height);
}

void shadow_ext_planar_forget(const BITMAP_PLANAR_CONTEXT* context) {
    std::lock_guard lock(gMutex);
    gRoom.erase(context);
}
