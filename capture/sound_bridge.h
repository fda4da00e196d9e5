// The sound half of a capture stream: the stream that carries system sound
// owns one forwarder, which captures the desktop's sound through the
// platform, converts every buffer and hands it to the installed callback.
#pragma once
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sound.h"
#include "sound_convert.h"

namespace corvane::capture {

class SoundForward : public platform::SoundSink {
  public:
    SoundForward() = default;
    // Stops the capture first, so no buffer arrives at a half-gone object.
    ~SoundForward() override;

    // Starts capturing; without sound (no sound server) the stream goes on
    // silent, and the reason is logged once per process.
    void start();
    void soundArrived(const platform::SoundBuffer& buffer) override;

  private:
    // Touched only by the capture's thread, one buffer at a time.
    SoundConverter converter_;
    std::vector<int16_t> converted_;
    std::unique_ptr<platform::SoundCapture> capture_;
};

// Tests: the once-per-process log lines may be written again.
void resetSoundLogForTests();

} // namespace corvane::capture
