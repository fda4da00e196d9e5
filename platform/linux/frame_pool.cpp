#include "frame_pool.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvane::platform::linuxos {

struct FramePool::Buffer {
    std::vector<uint32_t> pixels;
    pixman_image_t* image = nullptr;
    pixman_region32_t stale;
    Rect cursorDrawn;
    std::atomic<bool> held{false};

    ~Buffer() {
        if (image)
            pixman_image_unref(image);
        pixman_region32_fini(&stale);
    }
};

namespace {

Rect intersect(const Rect& a, const Rect& b) {
    const int32_t left = std::max(a.x, b.x);
    const int32_t top = std::max(a.y, b.y);
    const int32_t right = std::min(a.x + a.width, b.x + b.width);
    const int32_t bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top)
        return {};
    return {left, top, right - left, bottom - top};
}

void addRect(pixman_region32_t& region, const Rect& r) {
    if (r.width > 0 && r.height > 0)
        pixman_region32_union_rect(&region, &region, r.x, r.y, static_cast<unsigned>(r.width),
                                   static_cast<unsigned>(r.height));
}

std::vector<DirtyRect> changeList(const pixman_region32_t& dirty) {
    int count = 0;
    const pixman_box32_t* boxes =
        pixman_region32_rectangles(const_cast<pixman_region32_t*>(&dirty), &count);
    std::vector<DirtyRect> list;
    // More rectangles than a receiver takes: their bounding box says more
    // than no list at all.
    if (count > 64) {
        const pixman_box32_t* e = pixman_region32_extents(const_cast<pixman_region32_t*>(&dirty));
        list.push_back(
            {double(e->x1), double(e->y1), double(e->x2 - e->x1), double(e->y2 - e->y1)});
        return list;
    }
    for (int i = 0; i < count; ++i)
        list.push_back({double(boxes[i].x1), double(boxes[i].y1), double(boxes[i].x2 - boxes[i].x1),
                        double(boxes[i].y2 - boxes[i].y1)});
    return list;
}

void setScale(pixman_image_t* image, double sx, double sy) {
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy));
    pixman_image_set_transform(image, &transform);
    pixman_image_set_filter(image, PIXMAN_FILTER_BILINEAR, nullptr, 0);
}

} // namespace

FramePool::FramePool(int32_t regionWidth, int32_t regionHeight, const CaptureSettings& settings,
                     std::function<void()> released)
    : regionWidth_(regionWidth), regionHeight_(regionHeight), width_(settings.width),
      height_(settings.height), released_(std::move(released)) {
    target_ = settings.destination.value_or(Rect{0, 0, width_, height_});
    dest_ = intersect(target_, {0, 0, width_, height_});
    scaled_ = target_.width != regionWidth_ || target_.height != regionHeight_;
    for (int32_t i = 0; i < std::max(1, settings.queueDepth); ++i) {
        auto buffer = std::make_shared<Buffer>();
        // Opaque black outside the picture.
        buffer->pixels.assign(static_cast<size_t>(width_) * height_, 0xff000000u);
        buffer->image = pixman_image_create_bits(PIXMAN_x8r8g8b8, width_, height_,
                                                 buffer->pixels.data(), width_ * 4);
        pixman_region32_init_rect(&buffer->stale, 0, 0, width_, height_);
        buffers_.push_back(std::move(buffer));
    }
}

// Frames still held keep their buffer alive; the pool only lets go.
FramePool::~FramePool() = default;

bool FramePool::hasFreeBuffer() const {
    return std::any_of(buffers_.begin(), buffers_.end(),
                       [](const auto& b) { return !b->held.load(); });
}

Rect FramePool::frameArea(const Rect& area) const {
    if (!scaled_)
        return intersect({area.x + target_.x, area.y + target_.y, area.width, area.height}, dest_);
    const double sx = double(target_.width) / regionWidth_;
    const double sy = double(target_.height) / regionHeight_;
    // One pixel more on each side: the filter blends neighbouring pixels.
    const int32_t left = target_.x + int32_t(std::floor(area.x * sx)) - 1;
    const int32_t top = target_.y + int32_t(std::floor(area.y * sy)) - 1;
    const int32_t right = target_.x + int32_t(std::ceil((area.x + area.width) * sx)) + 1;
    const int32_t bottom = target_.y + int32_t(std::ceil((area.y + area.height) * sy)) + 1;
    return intersect({left, top, right - left, bottom - top}, dest_);
}

void FramePool::invalidate(const pixman_region32_t& frameRegion) {
    for (auto& buffer : buffers_)
        pixman_region32_union(&buffer->stale, &buffer->stale,
                              const_cast<pixman_region32_t*>(&frameRegion));
}

Rect FramePool::cursorArea(const CursorPicture* cursor) const {
    if (!cursor || cursor->argb.empty())
        return {};
    return frameArea({cursor->x, cursor->y, cursor->width, cursor->height});
}

void FramePool::restore(Buffer& buffer, const uint8_t* mirror, intptr_t mirrorStride) {
    addRect(buffer.stale, buffer.cursorDrawn);
    buffer.cursorDrawn = {};
    pixman_region32_intersect_rect(&buffer.stale, &buffer.stale, dest_.x, dest_.y,
                                   static_cast<unsigned>(dest_.width),
                                   static_cast<unsigned>(dest_.height));
    int count = 0;
    const pixman_box32_t* boxes = pixman_region32_rectangles(&buffer.stale, &count);
    pixman_image_t* source = nullptr;
    if (scaled_) {
        source = pixman_image_create_bits(PIXMAN_x8r8g8b8, regionWidth_, regionHeight_,
                                          reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(mirror)),
                                          static_cast<int>(mirrorStride));
        setScale(source, double(regionWidth_) / target_.width,
                 double(regionHeight_) / target_.height);
        pixman_image_set_repeat(source, PIXMAN_REPEAT_PAD);
    }
    for (int i = 0; i < count; ++i) {
        const pixman_box32_t& b = boxes[i];
        if (source) {
            pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, buffer.image, b.x1 - target_.x,
                                     b.y1 - target_.y, 0, 0, b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1);
            continue;
        }
        const size_t rowBytes = size_t(b.x2 - b.x1) * 4;
        uint8_t* to = reinterpret_cast<uint8_t*>(&buffer.pixels[size_t(b.y1) * width_ + b.x1]);
        const uint8_t* from = mirror + (b.y1 - target_.y) * mirrorStride + (b.x1 - target_.x) * 4;
        // Whole rows lie back to back on both sides: one copy of the band. The
        // C library streams a copy that large past the cache; row by row, a
        // full 4K frame took two to three times as long.
        if (rowBytes == size_t(width_) * 4 && mirrorStride == intptr_t(rowBytes)) {
            std::memcpy(to, from, rowBytes * size_t(b.y2 - b.y1));
            continue;
        }
        for (int32_t y = b.y1; y < b.y2; ++y, to += size_t(width_) * 4, from += mirrorStride)
            std::memcpy(to, from, rowBytes);
    }
    if (source)
        pixman_image_unref(source);
    pixman_region32_clear(&buffer.stale);
}

void FramePool::drawCursor(Buffer& buffer, const CursorPicture& cursor) {
    const Rect area = cursorArea(&cursor);
    if (area.width <= 0)
        return;
    pixman_image_t* picture =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, cursor.width, cursor.height,
                                 const_cast<uint32_t*>(cursor.argb.data()), cursor.width * 4);
    // Where the cursor's top-left corner lands in the frame.
    double originX = target_.x + cursor.x;
    double originY = target_.y + cursor.y;
    if (scaled_) {
        const double sx = double(target_.width) / regionWidth_;
        const double sy = double(target_.height) / regionHeight_;
        setScale(picture, 1.0 / sx, 1.0 / sy);
        originX = target_.x + cursor.x * sx;
        originY = target_.y + cursor.y * sy;
    }
    const int32_t ox = int32_t(std::floor(originX));
    const int32_t oy = int32_t(std::floor(originY));
    pixman_image_composite32(PIXMAN_OP_OVER, picture, nullptr, buffer.image, area.x - ox,
                             area.y - oy, 0, 0, area.x, area.y, area.width, area.height);
    pixman_image_unref(picture);
    buffer.cursorDrawn = area;
}

FrameHandle FramePool::fill(const uint8_t* mirror, intptr_t mirrorStride,
                            const CursorPicture* cursor, const pixman_region32_t& dirty) {
    auto it = std::find_if(buffers_.begin(), buffers_.end(),
                           [](const auto& b) { return !b->held.load(); });
    if (it == buffers_.end())
        return nullptr;
    std::shared_ptr<Buffer> buffer = *it;
    restore(*buffer, mirror, mirrorStride);
    if (cursor && !cursor->argb.empty())
        drawCursor(*buffer, *cursor);
    auto frame = std::make_shared<CaptureFrame>();
    frame->pixels = reinterpret_cast<const uint8_t*>(buffer->pixels.data());
    frame->stride = intptr_t(width_) * 4;
    frame->width = width_;
    frame->height = height_;
    frame->dirty = changeList(dirty);
    buffer->held.store(true);
    auto released = released_;
    return FrameHandle(frame.get(), [frame, buffer, released](const CaptureFrame*) mutable {
        frame.reset();
        buffer->held.store(false);
        buffer.reset();
        released();
    });
}

} // namespace corvane::platform::linuxos
