// The PulseAudio backend of the sound service: a missing sound server is a
// quick, clear refusal. (That the monitor's sound arrives is checked end to
// end, in sound_e2e_test.cpp.)
#include <cstdlib>

#include <gtest/gtest.h>

#include "e2e_harness.h"
#include "platform/pulse/pulse_sound.h"

using namespace e2e;

namespace {
struct NoSink : corvane::platform::SoundSink {
    void soundArrived(const corvane::platform::SoundBuffer&) override {}
};
} // namespace

TEST(PulseSoundBackend, MissingSoundServerIsRefusedQuicklyWithAReason) {
    TempDir dir;
    // Each test runs in a process of its own: the variable needs no undoing.
    setenv("PULSE_SERVER", ("unix:" + dir.file("nothing-here")).c_str(), 1);
    NoSink sink;
    std::string error;
    const auto begin = std::chrono::steady_clock::now();
    auto capture = corvane::platform::pulse::PulseSound().start(sink, error);
    EXPECT_EQ(capture, nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
}
