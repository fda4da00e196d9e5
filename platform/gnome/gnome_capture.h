// Screen capture on GNOME: the monitor the remote-desktop session records
// (display id 1), from the session's PipeWire stream. Streams share one
// consumer of that stream; each has its own frame pool and thread, pacing
// frames to its minimum interval: changes that come sooner are gathered
// into the next frame, never queued. A stream opens the session when it
// starts and reports a stop when the session or its stream ends.
#pragma once
#include <memory>
#include <mutex>

#include "../capture.h"
#include "gnome_pipewire.h"
#include "gnome_session.h"

namespace corvane::platform::gnome {

inline constexpr uint32_t kGnomeMonitorDisplayId = 1;

class GnomeCapture : public Capture {
  public:
    explicit GnomeCapture(GnomeSession& session);
    ~GnomeCapture() override;

    void shareableContent(ContentReply reply) override;
    std::unique_ptr<CaptureStream> createStream(const CaptureDisplay& display,
                                                const CaptureSettings& settings, CaptureSink& sink,
                                                std::string& error) override;

    // The consumer of the session's stream, connected on first use (after
    // the session opened); null with a reason when it cannot connect.
    std::shared_ptr<GnomeFrameSource> source(std::string& error);
    // The consumer if one runs (for the cursor service).
    std::shared_ptr<GnomeFrameSource> runningSource() const;

  private:
    GnomeSession& session_;
    uint64_t endListener_ = 0;
    mutable std::mutex mutex_;
    std::shared_ptr<GnomeFrameSource> source_;
    uint32_t sourceNode_ = 0;
};

} // namespace corvane::platform::gnome
