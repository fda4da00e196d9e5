// Conversion of captured system sound to the one format clients are offered:
// 44100 Hz, signed 16-bit, two channels interleaved.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/sound.h"

struct SwrContext;

namespace corvane::capture {

inline constexpr int32_t kOutRate = 44100;
inline constexpr int32_t kOutChannels = 2;

// Frames the output of one buffer may hold: the resampled length plus room
// for what the resampler held back from the buffer before.
int64_t soundOutputCapacity(int64_t frames, int32_t sourceRate);
// A presentation time in milliseconds, truncated toward zero, modulo 2^32;
// 0 when the time is not a finite number.
uint32_t soundTimestampMs(double seconds);

// One stream's converter. The resampler lives on from buffer to buffer, so
// its filter state carries over and buffer edges leave no step in the wave;
// a buffer in another source format builds a new one first.
class SoundConverter {
  public:
    SoundConverter() = default;
    SoundConverter(const SoundConverter&) = delete;
    SoundConverter& operator=(const SoundConverter&) = delete;
    ~SoundConverter();

    // Converts one buffer into `out` (interleaved samples, replaced); false
    // when the buffer has to be dropped. `out` may hold 0 frames on success.
    bool convert(const platform::SoundBuffer& buffer, std::vector<int16_t>& out);
    // How many resamplers were built so far.
    int32_t builds() const { return builds_; }

  private:
    bool rebuild(const platform::SoundFormat& format);

    SwrContext* swr_ = nullptr;
    std::optional<platform::SoundFormat> builtFor_;
    int32_t builds_ = 0;
    std::vector<std::vector<int32_t>> widened_; // 24-bit samples as 32-bit
};

} // namespace corvane::capture
