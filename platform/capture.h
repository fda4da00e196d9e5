// Screen capture streams: one stream per display, delivering finished frames
// with the rectangles that changed since the previous frame, and a notice when
// the display server ends a stream on its own.
//
// Calls that the display server answers later (content query, start, frame
// interval change, stop) take a completion. A completion may run on any
// thread, before the call returns or long after; a backend may also never
// run it (a hung display server), so callers bound their waits.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "types.h"

namespace corvane::platform {

// A display that can be captured, with its frame in the global display
// coordinate space, in points.
struct CaptureDisplay {
    uint32_t id = 0;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const CaptureDisplay&) const = default;
};

struct ShareableContent {
    std::vector<CaptureDisplay> displays;
    uint32_t mainDisplayId = 0;
};

// A changed area in frame pixels as the display server reports it; it may
// have fractional edges.
struct DirtyRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

enum class FrameStatus { Complete, Idle, Blank, Suspended, Started, Stopped };

// One frame: 32-bit pixels, bytes B, G, R, A (or X), rows top-down.
struct CaptureFrame {
    FrameStatus status = FrameStatus::Complete;
    const uint8_t* pixels = nullptr; // null: the frame carries no image
    intptr_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<DirtyRect> dirty; // empty: no change information
};

// Holding a frame keeps its buffer out of the stream's pool; releasing it
// lets the stream reuse the buffer. Queue depth counts frames held.
using FrameHandle = std::shared_ptr<const CaptureFrame>;

struct CaptureSettings {
    int32_t width = 0; // frame size in pixels
    int32_t height = 0;
    // Where the display's picture is drawn inside the frame; without it the
    // picture fills the whole frame.
    std::optional<Rect> destination;
    std::chrono::nanoseconds minFrameInterval{std::chrono::seconds(1) / 30};
    int32_t queueDepth = 3;
    bool showCursor = true;
    // The stream carries system sound (only the first running stream does).
    bool captureSound = false;
};

// Receives one stream's frames in order, and its stop notice. Backends call
// it from their own threads and never after the stream object is destroyed.
class CaptureSink {
  public:
    virtual ~CaptureSink() = default;
    virtual void frameArrived(FrameHandle frame) = 0;
    virtual void streamStopped(const std::string& reason) = 0;
};

using CaptureCompletion = std::function<void(bool ok, const std::string& error)>;

class CaptureStream {
  public:
    // Destroying a stream stops it; the sink is not called once it returns.
    virtual ~CaptureStream() = default;
    virtual void start(CaptureCompletion done) = 0;
    virtual void setMinFrameInterval(std::chrono::nanoseconds interval, CaptureCompletion done) = 0;
    virtual void stop(std::function<void()> done) = 0;
};

class Capture {
  public:
    using ContentReply =
        std::function<void(std::optional<ShareableContent> content, const std::string& error)>;

    virtual ~Capture() = default;
    // The displays that can be captured now; no content with an error text
    // when the display server refuses.
    virtual void shareableContent(ContentReply reply) = 0;
    // A stream of one display, not yet started; null with a reason in `error`
    // when the stream cannot take its output.
    virtual std::unique_ptr<CaptureStream> createStream(const CaptureDisplay& display,
                                                        const CaptureSettings& settings,
                                                        CaptureSink& sink, std::string& error) = 0;
};

} // namespace corvane::platform
