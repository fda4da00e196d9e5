// Scripted capture for tests. Content queries, starts, frame-rate changes and
// stops answer at once unless the test makes them fail or hang (a hung call
// keeps its completion until releaseHung()). Streams stay inspectable after
// their owner destroyed them; frames are pushed by the test.
#pragma once
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "../capture.h"

namespace corvane::platform::sim {

enum class SimAnswer { Succeed, Fail, Hang };

// A frame as the test scripts it; pixels are copied into the pushed frame.
struct SimFrame {
    FrameStatus status = FrameStatus::Complete;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels; // width * height; empty: no image
    std::vector<DirtyRect> dirty;
};

// One stream the sim created, seen from the test.
class SimStreamState {
  public:
    CaptureDisplay display() const { return display_; }
    CaptureSettings settings() const;
    bool started() const;
    bool stopRequested() const;
    bool destroyed() const;
    // Frames the sink holds right now (pushed and not yet released).
    int32_t framesHeld() const;
    // Hands a frame to the sink; false when the stream is not running or
    // queueDepth frames are already held (the frame is dropped).
    bool pushFrame(const SimFrame& frame);
    // The display server ends the stream on its own.
    void stopFromDisplayServer(const std::string& reason);

  private:
    friend class SimCapture;
    friend class SimCaptureStream;
    mutable std::mutex mutex_;
    CaptureDisplay display_;
    CaptureSettings settings_;
    CaptureSink* sink_ = nullptr;
    bool started_ = false;
    bool stopRequested_ = false;
    bool destroyed_ = false;
    std::shared_ptr<std::atomic<int32_t>> held_ = std::make_shared<std::atomic<int32_t>>(0);
};

class SimCapture : public Capture {
  public:
    void shareableContent(ContentReply reply) override;
    std::unique_ptr<CaptureStream> createStream(const CaptureDisplay& display,
                                                const CaptureSettings& settings, CaptureSink& sink,
                                                std::string& error) override;

    // Scripting.
    void setDisplays(std::vector<CaptureDisplay> displays, uint32_t mainDisplayId);
    // Displays listed after the scripted ones (the sim's virtual displays).
    void setExtraDisplays(std::vector<CaptureDisplay> displays);
    void setContentAnswer(SimAnswer answer);
    // Content queries answered with the current display list from the n-th
    // query on (1-based); earlier ones find an empty list. 0 = from the first.
    void setDisplaysVisibleFromQuery(int32_t n);
    void setCreateAnswer(SimAnswer answer); // Hang is treated as Fail here
    void setStartAnswer(SimAnswer answer);
    void setIntervalAnswer(SimAnswer answer);
    void setStopAnswer(SimAnswer answer);
    // Runs the completions of hung calls (as a display server that answers
    // late) with failure for queries and starts, success for stops.
    void releaseHung();

    // Observation.
    int32_t contentQueries() const;
    std::vector<std::shared_ptr<SimStreamState>> streams() const;
    // Frame intervals asked for, in call order, over all streams.
    std::vector<std::chrono::nanoseconds> intervalRequests() const;

  private:
    friend class SimCaptureStream;
    void recordInterval(std::chrono::nanoseconds interval);
    SimAnswer startAnswerNow();
    SimAnswer intervalAnswerNow();
    SimAnswer stopAnswerNow();
    void keepHung(std::function<void()> completion);

    mutable std::mutex mutex_;
    ShareableContent content_;
    std::vector<CaptureDisplay> extra_;
    SimAnswer contentAnswer_ = SimAnswer::Succeed;
    SimAnswer createAnswer_ = SimAnswer::Succeed;
    SimAnswer startAnswer_ = SimAnswer::Succeed;
    SimAnswer intervalAnswer_ = SimAnswer::Succeed;
    SimAnswer stopAnswer_ = SimAnswer::Succeed;
    int32_t visibleFromQuery_ = 0;
    int32_t queries_ = 0;
    std::vector<std::shared_ptr<SimStreamState>> streams_;
    std::vector<std::chrono::nanoseconds> intervals_;
    std::deque<std::function<void()>> hung_;
};

} // namespace corvane::platform::sim
