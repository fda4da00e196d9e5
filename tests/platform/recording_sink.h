// A capture sink for the platform tests: it keeps each frame (its size, its
// changed rectangles and a copy of its pixels), holds on to frames when told
// to, as a slow consumer does, and notes why the stream stopped.
#pragma once
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/capture.h"

namespace corvane::platform::testing {

using namespace std::chrono_literals;

struct CopiedFrame {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
    std::vector<DirtyRect> dirty;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x] & 0xffffff; }
};

// Whether the frame's change list covers the rectangle (a pixel by default).
inline bool covers(const CopiedFrame& f, int x, int y, int w = 1, int h = 1) {
    for (const auto& r : f.dirty)
        if (r.x <= x && r.y <= y && r.x + r.width >= x + w && r.y + r.height >= y + h)
            return true;
    return false;
}

class RecordingSink : public CaptureSink {
  public:
    // Without `copyPixels` each frame's size and changes are kept, not its
    // picture.
    explicit RecordingSink(bool copyPixels = true) : copyPixels_(copyPixels) {}
    void frameArrived(FrameHandle frame) override {
        CopiedFrame copy{frame->width, frame->height, {}, frame->dirty};
        if (copyPixels_)
            copy.pixels.resize(size_t(frame->width) * frame->height);
        for (int32_t y = 0; y < frame->height && copyPixels_; ++y)
            std::memcpy(&copy.pixels[size_t(y) * frame->width], frame->pixels + y * frame->stride,
                        size_t(frame->width) * 4);
        std::lock_guard lock(mutex_);
        if (holdFrames)
            held.push_back(std::move(frame));
        maxHeld = std::max(maxHeld, held.size());
        frames.push_back(std::move(copy));
        cv_.notify_all();
    }
    void streamStopped(const std::string& reason) override {
        std::lock_guard lock(mutex_);
        stopReasons.push_back(reason);
        cv_.notify_all();
    }
    template <class Pred> bool waitUntil(Pred pred, std::chrono::milliseconds limit = 20s) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return pred(); });
    }
    bool waitForFrames(size_t n) {
        return waitUntil([&] { return frames.size() >= n; });
    }
    CopiedFrame frame(size_t i) {
        std::lock_guard lock(mutex_);
        return frames.at(i);
    }
    size_t count() {
        std::lock_guard lock(mutex_);
        return frames.size();
    }
    size_t mostHeld() {
        std::lock_guard lock(mutex_);
        return maxHeld;
    }
    // Lets go of the frames held so far and holds no more.
    void releaseHeld() {
        std::vector<FrameHandle> released;
        {
            std::lock_guard lock(mutex_);
            holdFrames = false;
            released.swap(held);
        }
    }

    bool holdFrames = false; // set before the stream starts
    std::vector<FrameHandle> held;
    size_t maxHeld = 0;
    std::vector<CopiedFrame> frames;
    std::vector<std::string> stopReasons;

  private:
    const bool copyPixels_;
    std::mutex mutex_;
    std::condition_variable cv_;
};

} // namespace corvane::platform::testing
