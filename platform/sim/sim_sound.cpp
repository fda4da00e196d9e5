#include "sim_sound.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace corvane::platform::sim {

namespace {

void storeSample(uint8_t* out, SampleType type, double value) {
    value = std::fmax(-1.0, std::fmin(1.0, value));
    switch (type) {
    case SampleType::U8:
        out[0] = static_cast<uint8_t>(std::lround(value * 127.0) + 128);
        return;
    case SampleType::S16: {
        const auto v = static_cast<int16_t>(std::lround(value * 32767.0));
        std::memcpy(out, &v, 2);
        return;
    }
    case SampleType::S24: {
        const auto v = static_cast<int32_t>(std::lround(value * 8388607.0));
        out[0] = static_cast<uint8_t>(v & 0xff);
        out[1] = static_cast<uint8_t>((v >> 8) & 0xff);
        out[2] = static_cast<uint8_t>((v >> 16) & 0xff);
        return;
    }
    case SampleType::S32: {
        const auto v = static_cast<int32_t>(std::llround(value * 2147483647.0));
        std::memcpy(out, &v, 4);
        return;
    }
    case SampleType::F32: {
        const auto v = static_cast<float>(value);
        std::memcpy(out, &v, 4);
        return;
    }
    }
}

} // namespace

class SimSoundCapture : public SoundCapture {
  public:
    SimSoundCapture(std::shared_ptr<SimSoundState> state, std::shared_ptr<SimSoundGate> gate)
        : state_(std::move(state)), gate_(std::move(gate)) {}
    ~SimSoundCapture() override {
        gate_->pass();
        std::lock_guard lock(state_->mutex_);
        state_->running_ = false;
        state_->sink_ = nullptr;
    }

  private:
    std::shared_ptr<SimSoundState> state_;
    std::shared_ptr<SimSoundGate> gate_;
};

SimSoundBuffer sineBuffer(const SoundFormat& format, int64_t frames, double hz, double amplitude,
                          int64_t firstFrame, double presentationSeconds) {
    SimSoundBuffer buffer;
    buffer.format = format;
    buffer.frames = frames;
    buffer.presentationSeconds = presentationSeconds;
    const int32_t size = bytesPerSample(format.type);
    const int32_t planes = format.interleaved ? 1 : format.channels;
    const int32_t perFrame = format.interleaved ? format.channels : 1;
    buffer.data.assign(planes, std::vector<uint8_t>(frames * perFrame * size));
    for (int64_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(firstFrame + f) / format.sampleRate;
        const double value = amplitude * std::sin(2 * std::numbers::pi * hz * t);
        for (int32_t c = 0; c < format.channels; ++c) {
            uint8_t* plane = buffer.data[format.interleaved ? 0 : c].data();
            const int64_t index = format.interleaved ? f * format.channels + c : f;
            storeSample(plane + index * size, format.type, value);
        }
    }
    return buffer;
}

bool SimSoundState::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

bool SimSoundState::push(const SimSoundBuffer& scripted) {
    std::lock_guard lock(mutex_);
    if (!running_ || !sink_)
        return false;
    SoundBuffer buffer;
    buffer.format = scripted.format;
    buffer.frames = scripted.frames;
    buffer.presentationSeconds = scripted.presentationSeconds;
    for (size_t i = 0; i < scripted.data.size() && i < kMaxSoundChannels; ++i)
        buffer.planes[i] = scripted.data[i].data();
    sink_->soundArrived(buffer);
    return true;
}

bool SimSoundState::end(const std::string& reason) {
    std::lock_guard lock(mutex_);
    if (!running_ || !sink_)
        return false;
    running_ = false;
    sink_->soundEnded(reason);
    return true;
}

void SimSoundGate::setHung(bool hung) {
    std::lock_guard lock(mutex_);
    hung_ = hung;
    cv_.notify_all();
}

void SimSoundGate::pass() {
    std::unique_lock lock(mutex_);
    if (!hung_)
        return;
    ++held_;
    cv_.notify_all();
    cv_.wait(lock, [&] { return !hung_; });
    --held_;
}

bool SimSoundGate::waitHeld(int count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return held_ >= count; });
}

std::unique_ptr<SoundCapture> SimSound::start(SoundSink& sink, std::string& error) {
    gate_->pass();
    std::lock_guard lock(mutex_);
    ++starts_;
    if (!unavailable_.empty()) {
        error = unavailable_;
        return nullptr;
    }
    auto state = std::make_shared<SimSoundState>();
    state->sink_ = &sink;
    state->running_ = true;
    captures_.push_back(state);
    return std::make_unique<SimSoundCapture>(std::move(state), gate_);
}

int SimSound::starts() const {
    std::lock_guard lock(mutex_);
    return starts_;
}

void SimSound::setUnavailable(const std::string& reason) {
    std::lock_guard lock(mutex_);
    unavailable_ = reason;
}

std::vector<std::shared_ptr<SimSoundState>> SimSound::captures() const {
    std::lock_guard lock(mutex_);
    return captures_;
}

} // namespace corvane::platform::sim
