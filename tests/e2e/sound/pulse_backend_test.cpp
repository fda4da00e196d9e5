// The PulseAudio backend of the sound service against a real daemon: the
// monitor's sound arrives in the monitor's own format, and a missing sound
// server is a quick, clear refusal.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <gtest/gtest.h>

#include "platform/pulse/pulse_sound.h"
#include "pulse_daemon.h"

using namespace e2e;
using corvane::platform::SampleType;
using corvane::platform::SoundBuffer;
using corvane::platform::SoundFormat;

namespace {

class Collector : public corvane::platform::SoundSink {
  public:
    void soundArrived(const SoundBuffer& buffer) override {
        std::lock_guard lock(mutex);
        format = buffer.format;
        frames += buffer.frames;
        const auto* s = reinterpret_cast<const int16_t*>(buffer.planes[0]);
        for (int64_t i = 0; format.type == SampleType::S16 && i < buffer.frames * format.channels;
             ++i)
            peak = std::max(peak, std::abs(static_cast<int>(s[i])));
    }
    std::mutex mutex;
    SoundFormat format;
    int64_t frames = 0;
    int peak = 0;
};

} // namespace

TEST(PulseSoundBackend, MissingSoundServerIsRefusedQuicklyWithAReason) {
    TempDir dir;
    // Each test runs in a process of its own: the variable needs no undoing.
    setenv("PULSE_SERVER", ("unix:" + dir.file("nothing-here")).c_str(), 1);
    Collector sink;
    std::string error;
    const auto begin = std::chrono::steady_clock::now();
    auto capture = corvane::platform::pulse::PulseSound().start(sink, error);
    EXPECT_EQ(capture, nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
}

TEST(PulseSoundBackend, MonitorSoundArrivesInTheMonitorsFormat) {
    PulseDaemon daemon;
    ASSERT_TRUE(daemon.ok());
    setenv("PULSE_SERVER", daemon.server().c_str(), 1);
    Collector sink;
    std::string error;
    auto capture = corvane::platform::pulse::PulseSound().start(sink, error);
    ASSERT_NE(capture, nullptr) << error;
    TempDir dir;
    const std::string tone = dir.file("tone.raw");
    std::string pcm(44100 * 4, '\0');
    for (size_t i = 0; i < 44100; ++i) {
        const auto v = static_cast<int16_t>(i % 44 < 22 ? 8000 : -8000);
        std::memcpy(&pcm[i * 4], &v, 2);
        std::memcpy(&pcm[i * 4 + 2], &v, 2);
    }
    ASSERT_TRUE(writeFile(tone, pcm));
    ASSERT_EQ(run({"pacat", "--playback", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                   tone},
                  daemon.env(), 10000ms),
              std::optional<int>(0));
    EXPECT_TRUE(waitUntil(
        [&] {
            std::lock_guard lock(sink.mutex);
            return sink.peak > 4000;
        },
        5000ms));
    capture.reset(); // no call after this returns
    std::lock_guard lock(sink.mutex);
    EXPECT_EQ(sink.format, (SoundFormat{44100, 2, SampleType::S16, true}));
    EXPECT_GT(sink.frames, 44100 / 2);
}
