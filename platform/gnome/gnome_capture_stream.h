// One capture stream over the shared PipeWire consumer: a thread that turns
// the consumer's change notices into frames of the stream's size (scaled or
// copied into the destination by the frame pool), with the cursor drawn in
// when asked for, no faster than the minimum frame interval.
#pragma once
#include <memory>

#include "../capture.h"

namespace corvane::platform::gnome {

class GnomeCapture;
class GnomeSession;

class GnomeCaptureStream : public CaptureStream {
  public:
    GnomeCaptureStream(GnomeCapture& capture, GnomeSession& session, uint32_t displayId,
                       const CaptureSettings& settings, CaptureSink& sink);
    ~GnomeCaptureStream() override;

    void start(CaptureCompletion done) override;
    void setMinFrameInterval(std::chrono::nanoseconds interval, CaptureCompletion done) override;
    void stop(std::function<void()> done) override;

    struct Core;

  private:
    std::shared_ptr<Core> core_;
};

} // namespace corvane::platform::gnome
