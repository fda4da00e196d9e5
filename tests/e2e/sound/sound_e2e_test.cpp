// The desktop's sound reaches the client: a 1 kHz tone played into the
// server's sound server comes out of the client's, also after that sound
// server restarted and after the user picked another output, and with
// MAC_SHADOW_AUDIO off nothing is offered and nothing is sent while the
// session goes on. Each side has its own PulseAudio daemon with a null sink.
#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "sound_session.h"

using namespace e2e;

namespace {

// Away from the pointer, which sits in the middle of the desktop.
bool clientShows(SoundSession& s, uint32_t rgb) {
    return s.clientShows(rgb, 100, 700, 15000ms);
}

} // namespace

TEST(SoundToClient, ToneOnTheServerIsHeardAt44100HzOnTheClient) {
    SoundSession s(suites::sound, "1024x768");
    ASSERT_TRUE(s.ready());
    ASSERT_TRUE(s.startServer() && s.startClient());
    ASSERT_TRUE(s.serverSays("sound: client plays", 20000ms));
    const auto samples = s.recordTone();
    EXPECT_NE(s.clientSinkInputs().find("s16le 2ch 44100Hz"), std::string::npos)
        << s.clientSinkInputs();
    const auto start = toneStart(samples);
    ASSERT_TRUE(start) << "no tone arrived";
    EXPECT_EQ(dominantHz(samples, *start + 2205, 22050, 44100), 1000);
}

// The tone plays for 2 s from the moment the sound server answers again (or
// the new default is set): half a second of it heard means the sound came
// back within 1.5 s.
TEST(SoundToClient, SoundComesBackAfterTheSoundServerRestartsAndFollowsANewDefaultOutput) {
    SoundSession s(suites::sound, "1024x768");
    ASSERT_TRUE(s.ready());
    ASSERT_TRUE(s.startServer() && s.startClient());
    ASSERT_TRUE(s.serverSays("sound: client plays", 20000ms));
    ASSERT_TRUE(toneStart(s.recordTone())) << "no tone before any change";

    ASSERT_TRUE(s.serverPulse().restart());
    auto samples = s.recordTone();
    auto start = toneStart(samples);
    ASSERT_TRUE(start) << "no tone after the sound server restarted\n" << s.serverLog();
    EXPECT_EQ(dominantHz(samples, *start + 2205, 11025, 44100), 1000);
    EXPECT_NE(s.serverLog().find("system sound is back"), std::string::npos);

    ASSERT_EQ(s.serverPulse().pactl({"load-module", "module-null-sink", "sink_name=other"}), 0);
    ASSERT_EQ(s.serverPulse().pactl({"set-default-sink", "other"}), 0);
    samples = s.recordTone(); // played to the default output, now "other"
    start = toneStart(samples);
    ASSERT_TRUE(start) << "no tone from the new default output\n" << s.serverLog();
    EXPECT_EQ(dominantHz(samples, *start + 2205, 11025, 44100), 1000);
    EXPECT_NE(s.serverLog().find("system sound stopped (the default output is now other)"),
              std::string::npos);
}

TEST(SoundToClient, SoundOffOffersNothingSendsNothingAndTheSessionGoesOn) {
    SoundSession s(suites::sound, "1024x768");
    ASSERT_TRUE(s.ready());
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#3366cc"));
    ASSERT_TRUE(s.startServer("0") && s.startClient());
    ASSERT_TRUE(clientShows(s, 0x3366cc))
        << std::hex << pixelAt(s.clientDisplay(), 100, 700).value_or(0) << "\n"
        << s.clientLog();
    const auto samples = s.recordTone();
    ASSERT_FALSE(samples.empty());
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](int16_t v) { return v == 0; }))
        << "nothing may play on the client";
    EXPECT_EQ(s.clientSinkInputs().find("Sample Specification"), std::string::npos)
        << "the client opened no playback: " << s.clientSinkInputs();
    EXPECT_EQ(s.serverLog().find("sound: client plays"), std::string::npos);
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#cc3322"));
    EXPECT_TRUE(clientShows(s, 0xcc3322));
    EXPECT_TRUE(s.client().running());
}
