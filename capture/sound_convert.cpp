#include "sound_convert.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace corvane::capture {

namespace {

// Guards the arithmetic below against nonsense from a backend: more than a
// minute of sound in one buffer or rates no device runs at.
constexpr int64_t kMaxFrames = 1 << 22;
constexpr int32_t kMaxRate = 768000;

AVSampleFormat sampleFormatFor(const platform::SoundFormat& format) {
    using platform::SampleType;
    const bool packed = format.interleaved;
    switch (format.type) {
    case SampleType::U8:
        return packed ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_U8P;
    case SampleType::S16:
        return packed ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P;
    case SampleType::S24: // widened to 32 bits before conversion
    case SampleType::S32:
        return packed ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S32P;
    case SampleType::F32:
        return packed ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
    }
    return AV_SAMPLE_FMT_NONE;
}

bool usable(const platform::SoundBuffer& buffer) {
    const platform::SoundFormat& f = buffer.format;
    if (buffer.frames < 1 || buffer.frames > kMaxFrames)
        return false;
    if (f.sampleRate <= 0 || f.sampleRate > kMaxRate)
        return false;
    if (f.channels < 1 || f.channels > platform::kMaxSoundChannels)
        return false;
    const int32_t planes = f.interleaved ? 1 : f.channels;
    for (int32_t i = 0; i < planes; ++i)
        if (!buffer.planes[i])
            return false;
    return true;
}

// 24-bit little-endian packed samples into the top of 32-bit ones.
void widen(const uint8_t* in, size_t samples, std::vector<int32_t>& out) {
    out.resize(samples);
    for (size_t i = 0; i < samples; ++i, in += 3) {
        const uint32_t v = static_cast<uint32_t>(in[0]) << 8 | static_cast<uint32_t>(in[1]) << 16 |
                           static_cast<uint32_t>(in[2]) << 24;
        std::memcpy(&out[i], &v, 4);
    }
}

} // namespace

int64_t soundOutputCapacity(int64_t frames, int32_t sourceRate) {
    if (frames <= 0 || sourceRate <= 0)
        return 64;
    return kOutRate * frames / sourceRate + 64;
}

uint32_t soundTimestampMs(double seconds) {
    if (!std::isfinite(seconds))
        return 0;
    double ms = std::fmod(std::trunc(seconds * 1000.0), 4294967296.0);
    if (ms < 0)
        ms += 4294967296.0;
    return static_cast<uint32_t>(ms);
}

SoundConverter::~SoundConverter() {
    swr_free(&swr_);
}

bool SoundConverter::rebuild(const platform::SoundFormat& format) {
    swr_free(&swr_);
    builtFor_.reset();
    AVChannelLayout inLayout{};
    av_channel_layout_default(&inLayout, format.channels);
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, kOutChannels);
    const int rc = swr_alloc_set_opts2(&swr_, &outLayout, AV_SAMPLE_FMT_S16, kOutRate, &inLayout,
                                       sampleFormatFor(format), format.sampleRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (rc < 0 || !swr_ || swr_init(swr_) < 0) {
        swr_free(&swr_);
        return false;
    }
    builtFor_ = format;
    ++builds_;
    return true;
}

bool SoundConverter::convert(const platform::SoundBuffer& buffer, std::vector<int16_t>& out) {
    out.clear();
    if (!usable(buffer))
        return false;
    const platform::SoundFormat& format = buffer.format;
    if (!swr_ || !builtFor_ || *builtFor_ != format)
        if (!rebuild(format))
            return false;

    const int32_t planes = format.interleaved ? 1 : format.channels;
    const size_t perPlane = static_cast<size_t>(buffer.frames) *
                            static_cast<size_t>(format.interleaved ? format.channels : 1);
    const uint8_t* in[platform::kMaxSoundChannels] = {};
    if (format.type == platform::SampleType::S24) {
        widened_.resize(planes);
        for (int32_t i = 0; i < planes; ++i) {
            widen(buffer.planes[i], perPlane, widened_[i]);
            in[i] = reinterpret_cast<const uint8_t*>(widened_[i].data());
        }
    } else {
        for (int32_t i = 0; i < planes; ++i)
            in[i] = buffer.planes[i];
    }

    const int64_t capacity = soundOutputCapacity(buffer.frames, format.sampleRate);
    out.resize(static_cast<size_t>(capacity) * kOutChannels);
    uint8_t* dst[1] = {reinterpret_cast<uint8_t*>(out.data())};
    const int produced =
        swr_convert(swr_, dst, static_cast<int>(capacity), in, static_cast<int>(buffer.frames));
    if (produced < 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<size_t>(produced) * kOutChannels);
    return true;
}

} // namespace corvane::capture
