// System sound through the bridge: every source format arrives as 44100 Hz
// 16-bit stereo without steps at buffer edges, timestamps, the output
// capacity, converter rebuilds, sound that stops or never starts, sound that
// comes back after the sound server ended it, and streams that never wait
// for a sound server that hangs. (A new default output followed end to end
// is in tests/e2e/sound.)
#include <cmath>
#include <future>
#include <numbers>

#include "bridge_fixture.h"
#include "capture/sound_bridge.h"
#include "capture/sound_convert.h"

namespace corvane::capture::testing {
namespace {

using platform::SampleType;
using platform::SoundFormat;
using platform::sim::sineBuffer;

struct SoundReceiver {
    static void callback(void* user, const int16_t* samples, intptr_t frames, uint32_t timestamp) {
        auto* self = static_cast<SoundReceiver*>(user);
        self->samples.insert(self->samples.end(), samples, samples + frames * 2);
        self->timestamps.push_back(timestamp);
    }
    std::vector<int16_t> channel(int c) const {
        std::vector<int16_t> out;
        for (size_t i = c; i < samples.size(); i += 2)
            out.push_back(samples[i]);
        return out;
    }
    std::vector<int16_t> samples;
    std::vector<uint32_t> timestamps;
};

// Largest step between neighbouring samples after the resampler's warm-up.
int maxStep(const std::vector<int16_t>& x, size_t from) {
    int step = 0;
    for (size_t i = from + 1; i < x.size(); ++i)
        step = std::max(step, std::abs(x[i] - x[i - 1]));
    return step;
}

double frequency(const std::vector<int16_t>& x, size_t from) {
    int crossings = 0;
    for (size_t i = from + 1; i < x.size(); ++i)
        crossings += (x[i - 1] < 0) != (x[i] < 0);
    return crossings / 2.0 / (static_cast<double>(x.size() - from) / kOutRate);
}

// The sound schedule's clock: it moves only when a test moves it.
std::atomic<platform::Backoff::Clock::rep> gSoundNow{0};

class SoundBridge : public BridgeTest {
  protected:
    void SetUp() override {
        BridgeTest::SetUp();
        gSoundNow = 0;
        setSoundClockForTests([] {
            return platform::Backoff::Clock::time_point(
                platform::Backoff::Clock::duration(gSoundNow.load()));
        });
        resetSoundForTests();
        mac_capture_set_audio(&SoundReceiver::callback, &receiver_);
    }
    void TearDown() override {
        mac_capture_set_audio(nullptr, nullptr);
        BridgeTest::TearDown();
        setSoundClockForTests(nullptr);
    }
    // Adds the main display's stream and lets the sound's thread catch up.
    void addMainWithSound() {
        ASSERT_EQ(addMain(), 0);
        ASSERT_TRUE(settleSound(5s));
    }
    // Moves the sound's clock on and lets its thread do what is due.
    void advanceSound(std::chrono::milliseconds by) {
        gSoundNow += std::chrono::duration_cast<platform::Backoff::Clock::duration>(by).count();
        wakeSoundForTests();
        ASSERT_TRUE(settleSound(5s));
    }
    // The capture started last.
    std::shared_ptr<platform::sim::SimSoundState> soundCapture() {
        auto all = sim().simSound().captures();
        return all.empty() ? nullptr : all.back();
    }
    // `count` buffers of one continuous 1 kHz tone at half of full scale.
    void pushTone(const SoundFormat& format, int64_t frames, int count, int64_t first = 0) {
        auto sound = soundCapture();
        ASSERT_TRUE(sound);
        for (int i = 0; i < count; ++i) {
            const int64_t at = first + i * frames;
            ASSERT_TRUE(sound->push(sineBuffer(format, frames, 1000, 0.5, at,
                                               static_cast<double>(at) / format.sampleRate)));
        }
    }
    SoundReceiver receiver_;
};

struct ToneCase {
    const char* name;
    SoundFormat format;
    int64_t bufferFrames;
    double peak; // of full scale, per output channel
};

TEST_F(SoundBridge, EverySourceFormatArrivesAs44100HzStereoWithoutStepsAtBufferEdges) {
    const std::vector<ToneCase> cases = {
        {"48 kHz float stereo", {48000, 2, SampleType::F32, true}, 480, 0.5},
        {"44.1 kHz 16-bit mono", {44100, 1, SampleType::S16, true}, 441, 0.5 * M_SQRT1_2},
        {"96 kHz 24-bit planar", {96000, 2, SampleType::S24, false}, 960, 0.5},
    };
    // The steepest a 1 kHz sine of that peak gets between two output samples.
    const auto stepLimit = [](double peak) {
        return 2 * std::numbers::pi * 1000 / kOutRate * peak * 32767 * 1.05 + 2;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mac_capture_stop();
        receiver_ = {};
        addMainWithSound();
        pushTone(c.format, c.bufferFrames, 50); // half a second
        const auto left = receiver_.channel(0);
        const auto right = receiver_.channel(1);
        EXPECT_NEAR(static_cast<double>(left.size()), kOutRate / 2.0, 64);
        EXPECT_EQ(left, right);
        EXPECT_NEAR(frequency(left, 64), 1000, 10);
        const int peak = *std::max_element(left.begin() + 64, left.end());
        EXPECT_NEAR(peak, c.peak * 32767, 0.02 * 32767);
        EXPECT_LE(maxStep(left, 64), stepLimit(c.peak));
    }
}

TEST_F(SoundBridge, TimestampsAreMillisecondsModulo2To32) {
    const std::vector<std::pair<double, uint32_t>> cases = {
        {0.0, 0u}, {1.2349, 1234u}, {4294967.296 + 1.5, 1500u}, {-0.001, 0xffffffffu},
        {NAN, 0u}, {INFINITY, 0u},
    };
    for (const auto& [seconds, ms] : cases)
        EXPECT_EQ(soundTimestampMs(seconds), ms) << seconds << " s";
    addMainWithSound();
    ASSERT_TRUE(soundCapture()->push(
        sineBuffer({48000, 2, SampleType::F32, true}, 480, 1000, 0.5, 0, 4294967.296 * 2 + 7.25)));
    EXPECT_EQ(receiver_.timestamps, std::vector<uint32_t>{7250u});
}

TEST(SoundCapacity, ResampledLengthPlus64Frames) {
    EXPECT_EQ(soundOutputCapacity(480, 48000), 505);
    EXPECT_EQ(soundOutputCapacity(441, 44100), 505);
    EXPECT_EQ(soundOutputCapacity(960, 96000), 505);
    EXPECT_EQ(soundOutputCapacity(1, 96000), 64);
}

TEST(SoundConverterRules, SourceFormatChangeRebuildsAndUnusableBuffersAreDropped) {
    SoundConverter converter;
    std::vector<int16_t> out;
    const SoundFormat stereo{48000, 2, SampleType::F32, true};
    const SoundFormat mono{48000, 1, SampleType::F32, true};
    const auto convert = [&](const SoundFormat& f, int64_t frames) {
        auto scripted = sineBuffer(f, frames, 1000, 0.5, 0, 0);
        platform::SoundBuffer buffer;
        buffer.format = f;
        buffer.frames = frames;
        for (size_t i = 0; i < scripted.data.size(); ++i)
            buffer.planes[i] = scripted.data[i].data();
        return converter.convert(buffer, out);
    };
    ASSERT_TRUE(convert(stereo, 480));
    ASSERT_TRUE(convert(stereo, 480));
    EXPECT_EQ(converter.builds(), 1);
    ASSERT_TRUE(convert(mono, 480));
    EXPECT_EQ(converter.builds(), 2) << "another channel layout builds a new converter";
    EXPECT_GT(out.size(), 0u);

    EXPECT_FALSE(convert(stereo, 0));
    EXPECT_FALSE(convert({0, 2, SampleType::F32, true}, 480));
    EXPECT_FALSE(convert({48000, 9, SampleType::F32, true}, 480));
    platform::SoundBuffer noData;
    noData.format = stereo;
    noData.frames = 480;
    EXPECT_FALSE(converter.convert(noData, out));
}

TEST_F(SoundBridge, SourceFormatIsLoggedOnceAcrossFormatChanges) {
    addMainWithSound();
    CaptureStderr();
    pushTone({48000, 2, SampleType::F32, true}, 480, 2);
    pushTone({44100, 1, SampleType::S16, false}, 441, 2);
    const std::string log = GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr("mac_capture: system audio 48000 Hz, 2 ch, interleaved, "
                               "converted to 44100 Hz 16 bit stereo\n"));
    EXPECT_EQ(log.find("system audio"), log.rfind("system audio"));
    EXPECT_GT(receiver_.samples.size(), 4 * 441u) << "sound goes on in the new format";
}

TEST_F(SoundBridge, SoundStopsWithItsStreamAndWithoutACallback) {
    addMainWithSound();
    addMainWithSound();
    ASSERT_EQ(sim().simSound().captures().size(), 1u) << "only the first stream captures sound";
    mac_capture_set_audio(nullptr, nullptr);
    pushTone({48000, 2, SampleType::F32, true}, 480, 1);
    EXPECT_TRUE(receiver_.samples.empty());
    // The capture stops on the sound's own thread, but nothing reaches the
    // receiver from the moment its stream stopped.
    mac_capture_set_audio(&SoundReceiver::callback, &receiver_);
    auto sound = soundCapture();
    mac_capture_stop();
    sound->push(sineBuffer({48000, 2, SampleType::F32, true}, 480, 1000, 0.5, 0, 0));
    EXPECT_TRUE(receiver_.samples.empty());
    ASSERT_TRUE(settleSound(5s));
    EXPECT_FALSE(sound->running());
    EXPECT_FALSE(sound->push(sineBuffer({48000, 2, SampleType::F32, true}, 480, 1000, 0.5, 0, 0)));
}

TEST_F(SoundBridge, NoSoundServerLeavesTheScreenRunningWithOneLogLine) {
    sim().simSound().setUnavailable("Connection refused");
    CaptureStderr();
    addMainWithSound();
    mac_capture_stop();
    addMainWithSound();
    advanceSound(1s);
    const std::string log = GetCapturedStderr();
    EXPECT_EQ(sim().simSound().starts(), 2) << "tried again on the schedule";
    EXPECT_THAT(log, HasSubstr("mac_capture: no system sound (Connection refused)"));
    EXPECT_EQ(log.find("no system sound"), log.rfind("no system sound"));
    EXPECT_EQ(runningStreams(), 1u);
}

// A sound server that goes away: the capture it ended is started again at
// once (as for any end, another default output included), then after 100
// ms, 200, 400, 800 and every second, until one start works; the sound then
// reaches the receiver again.
TEST_F(SoundBridge, SoundEndedByTheSoundServerIsStartedAgainOnAGrowingSchedule) {
    addMainWithSound();
    auto& sound = sim().simSound();
    ASSERT_EQ(sound.starts(), 1);
    CaptureStderr();
    sound.setUnavailable("Connection refused");
    ASSERT_TRUE(soundCapture()->end("the sound server went away"));
    ASSERT_TRUE(settleSound(5s));
    EXPECT_EQ(sound.starts(), 2) << "the first new start goes at once";
    const struct {
        std::chrono::milliseconds advance;
        int starts;
    } steps[] = {{99ms, 2},  {1ms, 3},   {199ms, 3}, {1ms, 4},   {400ms, 5},
                 {800ms, 6}, {999ms, 6}, {1ms, 7},   {1000ms, 8}};
    for (const auto& step : steps) {
        advanceSound(step.advance);
        EXPECT_EQ(sound.starts(), step.starts) << "after " << step.advance.count() << " ms more";
    }
    sound.setUnavailable("");
    advanceSound(1s);
    EXPECT_EQ(sound.starts(), 9);
    ASSERT_TRUE(soundCapture()->running());
    pushTone({48000, 2, SampleType::F32, true}, 480, 1);
    EXPECT_FALSE(receiver_.samples.empty());
    const std::string log = GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr("mac_capture: system sound stopped (the sound server went away); "
                               "starting it again\n"));
    EXPECT_THAT(log, HasSubstr("mac_capture: system sound is back\n"));
    EXPECT_EQ(log.find("no system sound"), std::string::npos) << "the outage was said once";
}

// Streams start, stop, and stop and start again (as a layout change does)
// while the sound server hangs. They run on a helper thread so that one that
// waits fails the test instead of hanging it. A stop followed at once by a
// start may leave the running capture alone, so only the first two must
// reach the hung server.
TEST_F(SoundBridge, StreamsNeverWaitForAHungSoundServer) {
    const struct {
        const char* name;
        bool soundBefore;
        std::function<bool()> streams;
        bool reachesServer;
        bool soundAfter;
    } cases[] = {
        {"start", false, [this] { return addMain() == 0; }, true, true},
        {"stop", true,
         [] {
             mac_capture_stop();
             return true;
         },
         true, false},
        {"stop and start", true,
         [this] {
             mac_capture_stop();
             return addMain() == 0;
         },
         false, true},
    };
    auto& sound = sim().simSound();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mac_capture_stop();
        if (c.soundBefore)
            addMainWithSound();
        sound.setHung(true);
        auto streams = std::async(std::launch::async, c.streams);
        const bool held = !c.reachesServer || sound.waitHeld(1, 5s);
        const bool prompt = streams.wait_for(5s) == std::future_status::ready;
        sound.setHung(false);
        ASSERT_TRUE(held) << "the sound server was never asked";
        ASSERT_TRUE(prompt) << "a stream waited for the sound server";
        EXPECT_TRUE(streams.get());
        ASSERT_TRUE(settleSound(5s));
        EXPECT_EQ(soundCapture() && soundCapture()->running(), c.soundAfter);
    }
}

} // namespace
} // namespace corvane::capture::testing
