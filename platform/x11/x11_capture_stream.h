// One X11 capture stream: its own X connection and thread. The thread sleeps
// on the connection (and a wake-up descriptor) until damage, cursor events,
// a released frame buffer or a request arrive; frames go out no faster than
// the minimum frame interval and never more than queue depth at a time.
#pragma once
#include <memory>

#include "../capture.h"

namespace corvane::platform::x11 {

class X11CaptureStream : public CaptureStream {
  public:
    X11CaptureStream(uint32_t displayId, const CaptureSettings& settings, CaptureSink& sink);
    ~X11CaptureStream() override;

    void start(CaptureCompletion done) override;
    void setMinFrameInterval(std::chrono::nanoseconds interval, CaptureCompletion done) override;
    void stop(std::function<void()> done) override;

    struct Core;

  private:
    std::shared_ptr<Core> core_;
};

} // namespace corvane::platform::x11
