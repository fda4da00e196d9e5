// Scripted system sound for tests: the test builds buffers in any source
// format and pushes them into the running capture from its own thread; the
// sink sees them at once, in push order. A sound server can be made absent,
// can end a capture on its own, and can hang: starts and stops then wait
// until the test lets them go.
#pragma once
#include <chrono>
#include <condition_variable>
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
    // The sound server ends the capture (it went away, another output was
    // chosen): the sink hears `reason`; false when it no longer ran.
    bool end(const std::string& reason);

  private:
    friend class SimSound;
    friend class SimSoundCapture;
    mutable std::mutex mutex_;
    SoundSink* sink_ = nullptr;
    bool running_ = false;
};

// Holds starts and stops while the sound server hangs; shared with the
// captures, which may outlive the service.
class SimSoundGate {
  public:
    void setHung(bool hung);
    // Waits here while hung.
    void pass();
    bool waitHeld(int count, std::chrono::milliseconds limit);

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool hung_ = false;
    int held_ = 0;
};

class SimSound : public Sound {
  public:
    std::unique_ptr<SoundCapture> start(SoundSink& sink, std::string& error) override;

    // No sound server: start answers null with this reason (empty: there
    // is one again).
    void setUnavailable(const std::string& reason);
    // A hung sound server: starts, and destroying captures, wait until it
    // answers again.
    void setHung(bool hung) { gate_->setHung(hung); }
    // Waits (at most `limit`) until `count` calls are held by the hang.
    bool waitHeld(int count, std::chrono::milliseconds limit) {
        return gate_->waitHeld(count, limit);
    }
    // Starts asked for, including refused ones.
    int starts() const;
    std::vector<std::shared_ptr<SimSoundState>> captures() const;

  private:
    std::shared_ptr<SimSoundGate> gate_ = std::make_shared<SimSoundGate>();
    mutable std::mutex mutex_;
    std::string unavailable_;
    int starts_ = 0;
    std::vector<std::shared_ptr<SimSoundState>> captures_;
};

} // namespace corvane::platform::sim
