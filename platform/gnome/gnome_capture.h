// Screen capture on GNOME: the monitor the remote-desktop session records
// (display id 1), from the session's PipeWire stream, and the session's
// virtual monitors (ids from 100), each from its own consumer. Streams share one
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
#include "gnome_virtual_monitors.h"

namespace corvane::platform::gnome {

inline constexpr uint32_t kGnomeMonitorDisplayId = 1;

class GnomeCapture : public Capture {
  public:
    GnomeCapture(GnomeSession& session, GnomeVirtualMonitors& monitors);
    ~GnomeCapture() override;

    void shareableContent(ContentReply reply) override;
    std::unique_ptr<CaptureStream> createStream(const CaptureDisplay& display,
                                                const CaptureSettings& settings, CaptureSink& sink,
                                                std::string& error) override;

    // The consumer of a display's stream: the recorded monitor's, connected
    // on first use (after the session opened), or a virtual monitor's own;
    // null with a reason when there is none.
    std::shared_ptr<GnomeFrameSource> source(uint32_t displayId, std::string& error);
    // The consumer if one runs (for the cursor service).
    std::shared_ptr<GnomeFrameSource> runningSource() const;

  private:
    GnomeSession& session_;
    GnomeVirtualMonitors& monitors_;
    uint64_t endListener_ = 0;
    mutable std::mutex mutex_;
    std::shared_ptr<GnomeFrameSource> source_;
    uint32_t sourceNode_ = 0;
};

} // namespace corvane::platform::gnome
