// System sound capture: what the desktop plays, as it reaches its output,
// handed over buffer by buffer in the format the sound server delivers.
//
// A running capture calls its sink from one thread of the backend, one
// buffer at a time and in order; sample data is valid only during the call,
// so the sink copies or converts before it returns. A capture that ends on
// its own (the sound server went away, the user chose another output) says
// so once through soundEnded and delivers nothing more; it is still the
// owner's to destroy. Destroying the capture stops it and waits for a sink
// call in progress: the sink is never called once the destructor has
// returned. Destroy it from any thread but the sink's own.
//
// Starting and destroying a capture talk to the sound server and may take
// seconds when it does not answer: keep them off paths that must not wait.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace corvane::platform {

enum class SampleType {
    U8,  // unsigned 8-bit
    S16, // signed 16-bit
    S24, // signed 24-bit packed into 3 bytes
    S32, // signed 32-bit
    F32, // 32-bit float, -1.0..1.0
};

// Samples are little-endian. Interleaved: one plane holds frames x channels
// samples, channel by channel within a frame. Otherwise one plane per channel.
struct SoundFormat {
    int32_t sampleRate = 0;
    int32_t channels = 0;
    SampleType type = SampleType::S16;
    bool interleaved = true;
    bool operator==(const SoundFormat&) const = default;
};

inline int32_t bytesPerSample(SampleType type) {
    switch (type) {
    case SampleType::U8:
        return 1;
    case SampleType::S16:
        return 2;
    case SampleType::S24:
        return 3;
    case SampleType::S32:
    case SampleType::F32:
        return 4;
    }
    return 0;
}

inline constexpr int32_t kMaxSoundChannels = 8;

struct SoundBuffer {
    SoundFormat format;
    int64_t frames = 0;
    // Interleaved: planes[0] only; planar: planes[0..channels-1].
    const uint8_t* planes[kMaxSoundChannels] = {};
    // When the first frame was captured, in seconds of a monotonic clock;
    // NaN when the backend cannot tell.
    double presentationSeconds = 0;
};

class SoundSink {
  public:
    virtual ~SoundSink() = default;
    virtual void soundArrived(const SoundBuffer& buffer) = 0;
    // The capture ended without being asked to; `reason` says why.
    virtual void soundEnded(const std::string& reason) = 0;
};

class SoundCapture {
  public:
    virtual ~SoundCapture() = default;
};

class Sound {
  public:
    virtual ~Sound() = default;
    // Starts capturing the system sound of the current default output,
    // without this process's own playback. Null with a reason in `error`
    // when there is no sound to capture (no sound server, no output device);
    // that is never fatal for the caller.
    virtual std::unique_ptr<SoundCapture> start(SoundSink& sink, std::string& error) = 0;
};

} // namespace corvane::platform
