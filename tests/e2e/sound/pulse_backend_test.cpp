// The PulseAudio backend of the sound service: a missing sound server is a
// quick, clear refusal, and an idle output pauses the recording. (That a
// capture ends with its reason when the user picks another default output or
// the sound server restarts, and that a new one records the new default, is
// checked end to end in sound_e2e_test.cpp, where the server's restart of the
// capture must follow.)
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include <gtest/gtest.h>

#include "e2e_harness.h"
#include "platform/pulse/pulse_sound.h"
#include "pulse_daemon.h"

using namespace e2e;
using corvane::platform::SampleType;
using corvane::platform::SoundBuffer;

namespace {
// Counts loud frames (16-bit or float samples above a quarter of full
// scale).
class RecordingSink : public corvane::platform::SoundSink {
  public:
    void soundArrived(const SoundBuffer& b) override {
        if (!b.planes[0] || !b.format.interleaved)
            return;
        int64_t loud = 0;
        const int64_t samples = b.frames * b.format.channels;
        for (int64_t i = 0; i < samples; ++i) {
            double v = 0;
            if (b.format.type == SampleType::S16) {
                int16_t s = 0;
                std::memcpy(&s, b.planes[0] + i * 2, 2);
                v = s / 32768.0;
            } else if (b.format.type == SampleType::F32) {
                float f = 0;
                std::memcpy(&f, b.planes[0] + i * 4, 4);
                v = f;
            }
            loud += std::abs(v) > 0.25;
        }
        std::lock_guard lock(mutex_);
        loud_ += loud;
        cv_.notify_all();
    }
    void soundEnded(const std::string&) override {}
    bool waitLoud(int64_t samples) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, 10s, [&] { return loud_ >= samples; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int64_t loud_ = 0;
};

// Half a second of a loud square wave into a sink of the daemon.
bool playInto(PulseDaemon& pulse, const std::string& sink, const TempDir& dir) {
    std::vector<int16_t> pcm(48000);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = (i / 24) % 2 ? 20000 : -20000;
    const std::string path = dir.file("square.raw");
    if (!writeFile(path, std::string(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2)))
        return false;
    return run({"pacat", "--playback", "-d", sink, "--raw", "--format=s16le", "--rate=48000",
                "--channels=2", path},
               pulse.env(), 10000ms) == std::optional<int>(0);
}

// Whether the daemon's one recording (ours) is paused: "yes", "no", or
// empty when there is none.
std::string recordingCorked(PulseDaemon& pulse) {
    std::string out;
    if (pulse.pactl({"list", "source-outputs"}, &out) != std::optional<int>(0))
        return {};
    const size_t at = out.find("Corked: ");
    return at == std::string::npos ? std::string()
                                   : out.substr(at + 8, out.find('\n', at) - at - 8);
}

} // namespace

TEST(PulseSoundBackend, MissingSoundServerIsRefusedQuicklyWithAReason) {
    TempDir dir;
    // Each test runs in a process of its own: the variable needs no undoing.
    setenv("PULSE_SERVER", ("unix:" + dir.file("nothing-here")).c_str(), 1);
    RecordingSink sink;
    std::string error;
    const auto begin = std::chrono::steady_clock::now();
    auto capture = corvane::platform::pulse::PulseSound().start(sink, error);
    EXPECT_EQ(capture, nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
}

// A capture of a private sound daemon's default output.
class PulseCapture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pulse.ok());
        // Each test runs in a process of its own: the variable needs no undoing.
        setenv("PULSE_SERVER", pulse.server().c_str(), 1);
        std::string error;
        capture = corvane::platform::pulse::PulseSound().start(sink, error);
        ASSERT_NE(capture, nullptr) << error;
    }
    PulseDaemon pulse;
    TempDir dir;
    RecordingSink sink;
    std::unique_ptr<corvane::platform::SoundCapture> capture;
};

// An idle desktop's monitor would wake the capture every fragment with
// silence: the recording is paused while nothing plays, and a sound resumes
// it soon enough to be heard.
TEST_F(PulseCapture, TheRecordingPausesWhileNothingPlaysAndResumesForASound) {
    EXPECT_TRUE(waitUntil([&] { return recordingCorked(pulse) == "yes"; }, 10s))
        << recordingCorked(pulse);

    ASSERT_TRUE(playInto(pulse, "@DEFAULT_SINK@", dir));
    EXPECT_TRUE(sink.waitLoud(4800)) << "the sound played while paused did not arrive";
    EXPECT_TRUE(waitUntil([&] { return recordingCorked(pulse) == "yes"; }, 10s))
        << "still recording after the sound ended";
}
