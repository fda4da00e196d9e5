#include "sim_cursor.h"

namespace corvane::platform::sim {

int32_t SimCursor::seed() {
    std::lock_guard lock(mutex_);
    return seed_;
}

bool SimCursor::current(CursorImage& out) {
    std::lock_guard lock(mutex_);
    ++imageRequests_;
    if (!image_)
        return false;
    out = *image_;
    return true;
}

void SimCursor::setSeed(int32_t seed) {
    std::lock_guard lock(mutex_);
    seed_ = seed;
}

void SimCursor::setImage(std::optional<CursorImage> image) {
    std::lock_guard lock(mutex_);
    image_ = std::move(image);
}

int SimCursor::imageRequests() const {
    std::lock_guard lock(mutex_);
    return imageRequests_;
}

} // namespace corvane::platform::sim
