// The frames a capture stream hands out (X11 and GNOME alike): a pool of
// queue-depth buffers of the output size. Each buffer remembers what changed
// since it was last filled, so filling it copies only those parts from the
// mirror (scaled into the destination rectangle when its size differs from
// the region's).
#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include <pixman.h>

#include "../capture.h"

namespace corvane::platform::linuxos {

// The cursor as drawn into frames: premultiplied ARGB, top-left corner in
// region pixels.
struct CursorPicture {
    std::vector<uint32_t> argb;
    int32_t width = 0;
    int32_t height = 0;
    int32_t x = 0;
    int32_t y = 0;
};

class FramePool {
  public:
    // `released` runs (on any thread) whenever a handed-out frame comes back.
    FramePool(int32_t regionWidth, int32_t regionHeight, const CaptureSettings& settings,
              std::function<void()> released);
    ~FramePool();
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;

    bool hasFreeBuffer() const;
    // Where a changed area of the region (region pixels) lands in the frame.
    Rect frameArea(const Rect& regionArea) const;
    // Marks frame areas as changed in every buffer.
    void invalidate(const pixman_region32_t& frameRegion);
    // The frame area the cursor covers, empty without a cursor.
    Rect cursorArea(const CursorPicture* cursor) const;
    // Fills a free buffer from the mirror, draws the cursor and returns it as
    // a frame with `dirty` as its change list. Null when no buffer is free.
    FrameHandle fill(const uint8_t* mirror, intptr_t mirrorStride, const CursorPicture* cursor,
                     const pixman_region32_t& dirty);

  private:
    struct Buffer;
    void restore(Buffer& buffer, const uint8_t* mirror, intptr_t mirrorStride);
    void drawCursor(Buffer& buffer, const CursorPicture& cursor);

    int32_t regionWidth_;
    int32_t regionHeight_;
    int32_t width_;
    int32_t height_;
    Rect dest_;   // where the picture goes, clipped to the frame
    Rect target_; // the unclipped destination rectangle
    bool scaled_;
    std::vector<std::shared_ptr<Buffer>> buffers_;
    std::function<void()> released_;
};

} // namespace corvane::platform::linuxos
