// The working part of an X11 capture stream, used only on its thread: the
// connection, damage tracking, the shared-memory mirror, the frame pool and
// the cursor, and the loop that turns changes into paced frames.
#pragma once
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <X11/extensions/Xdamage.h>

#include "../linux/frame_pool.h"
#include "x11_capture.h"
#include "x11_capture_cursor.h"
#include "x11_capture_reader.h"

namespace corvane::platform::x11 {

using linuxos::FramePool;

struct SessionHooks {
    std::function<std::chrono::nanoseconds()> interval;
    std::function<bool()> stopWanted;
    std::function<void(FrameHandle)> deliver;
};

class CaptureSession {
  public:
    CaptureSession(uint32_t displayId, const CaptureSettings& settings, int wakeFd,
                   std::function<void()> bufferReleased);
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    bool open(std::string& error);
    // Runs until a stop is wanted (answers "") or the stream ends on its own
    // (answers why).
    std::string run(const SessionHooks& hooks);
    void close();

  private:
    bool readEvents();
    std::optional<std::string> regionProblem();
    bool produceFrame(const SessionHooks& hooks);
    bool readDamage(pixman_region32_t& frameDirty);
    void waitForWork(int timeoutMs);

    uint32_t displayId_;
    CaptureSettings settings_;
    int wakeFd_;
    std::function<void()> bufferReleased_;
    OwnedDisplay owned_;
    Display* display_ = nullptr;
    Rect region_;
    Damage damage_ = 0;
    int damageEventBase_ = 0;
    int randrEventBase_ = -1;
    bool geometryChanged_ = false;
    bool firstFrame_ = true;
    bool cursorOn_ = false;
    pixman_region32_t pending_; // region pixels changed since the last frame
    std::unique_ptr<ShmReader> reader_;
    std::unique_ptr<FramePool> pool_;
    CursorTracker cursor_;
};

} // namespace corvane::platform::x11
