// Scripted system sound for tests: the test builds buffers in any source
// format and pushes them into the running capture from its own thread; the
// sink sees them at once, in push order. A sound server can be made absent.
#pragma once
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../sound.h"

namespace corvane::platform::sim {

// A buffer as the test scripts it; `data` holds one byte vector per plane.
struct SimSoundBuffer {
    SoundFormat format;
    int64_t frames = 0;
    std::vector<std::vector<uint8_t>> data;
    double presentationSeconds = 0;
};

// A sine of `hz` at `amplitude` (0..1 of full scale) in every channel,
// frames [firstFrame, firstFrame + frames) of one continuous tone, so that
// consecutive buffers join without a step.
SimSoundBuffer sineBuffer(const SoundFormat& format, int64_t frames, double hz, double amplitude,
                          int64_t firstFrame, double presentationSeconds);

// One capture the sim started, seen from the test.
class SimSoundState {
  public:
    bool running() const;
    // Hands a buffer to the sink; false when the capture no longer runs.
    bool push(const SimSoundBuffer& buffer);

  private:
    friend class SimSound;
    friend class SimSoundCapture;
    mutable std::mutex mutex_;
    SoundSink* sink_ = nullptr;
    bool running_ = false;
};

class SimSound : public Sound {
  public:
    std::unique_ptr<SoundCapture> start(SoundSink& sink, std::string& error) override;

    // No sound server: start answers null with this reason.
    void setUnavailable(const std::string& reason);
    std::vector<std::shared_ptr<SimSoundState>> captures() const;

  private:
    mutable std::mutex mutex_;
    std::string unavailable_;
    std::vector<std::shared_ptr<SimSoundState>> captures_;
};

} // namespace corvane::platform::sim
