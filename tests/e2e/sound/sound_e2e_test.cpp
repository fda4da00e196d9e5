// The desktop's sound reaches the client: a 1 kHz tone played into the
// server's sound server comes out of the client's, also after that sound
// server restarted and after the user picked another output, and with
// MAC_SHADOW_AUDIO off nothing is offered and nothing is sent while the
// session goes on. Each side has its own PulseAudio daemon with a null sink.
#include <cmath>

#include <gtest/gtest.h>

#include "e2e_session.h"
#include "pulse_daemon.h"
#include "tone.h"

using namespace e2e;

namespace {

// Each side's sound server, next to a session whose server plays planar
// only (the client's pixels then equal the server's).
class SoundSession : public Session {
  public:
    SoundSession() : Session(suites::sound, "1024x768x24", "1024x768x24") {}
    bool ready() const { return ok() && serverPulse_.ok() && clientPulse_.ok(); }
    bool start(const std::string& audio) {
        return startServer(planar({"-auth", "/sec:tls"}), {{"PULSE_SERVER", serverPulse_.server()},
                                                           {"MAC_SHADOW_AUDIO", audio}}) &&
               startClient({"/sec:tls", "/u:x", "/p:x", "/size:1024x768", "/sound:sys:pulse"},
                           {{"PULSE_SERVER", clientPulse_.server()}});
    }
    // Away from the pointer, which sits in the middle of the desktop.
    bool clientShows(uint32_t rgb) { return Session::clientShows(rgb, 100, 700, 15000ms); }
    // Records the client's sink while the tone plays on the server side.
    std::vector<int16_t> recordTone() {
        return e2e::recordTone(serverPulse_.env(), clientPulse_.env(), dir());
    }
    std::string clientSinkInputs() {
        std::string out;
        clientPulse_.pactl({"list", "sink-inputs"}, &out);
        return out;
    }
    PulseDaemon& serverPulse() { return serverPulse_; }

  private:
    PulseDaemon serverPulse_, clientPulse_;
};

} // namespace

TEST(SoundToClient, ToneOnTheServerIsHeardAt44100HzOnTheClient) {
    SoundSession s;
    ASSERT_TRUE(s.ready());
    ASSERT_TRUE(s.start("1"));
    ASSERT_TRUE(s.serverSays("sound: client plays", 20000ms));
    const auto samples = s.recordTone();
    EXPECT_NE(s.clientSinkInputs().find("s16le 2ch 44100Hz"), std::string::npos)
        << s.clientSinkInputs();
    const auto start = toneStart(samples);
    ASSERT_TRUE(start) << "no tone arrived";
    EXPECT_EQ(dominantHz(samples, *start + 2205, 22050, 44100), 1000);
    EXPECT_NE(s.serverLog().find("sound: client plays WAVE_FORMAT_PCM 44100 Hz 2 ch 16 bit"),
              std::string::npos);
}

// The tone plays for 2 s from the moment the sound server answers again (or
// the new default is set): half a second of it heard means the sound came
// back within 1.5 s.
TEST(SoundToClient, SoundComesBackAfterTheSoundServerRestartsAndFollowsANewDefaultOutput) {
    SoundSession s;
    ASSERT_TRUE(s.ready());
    ASSERT_TRUE(s.start("1"));
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
    SoundSession s;
    ASSERT_TRUE(s.ready());
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#3366cc"));
    ASSERT_TRUE(s.start("0"));
    ASSERT_TRUE(s.clientShows(0x3366cc))
        << std::hex << pixelAt(s.clientDisplay(), 100, 700).value_or(0) << "\n"
        << s.clientLog();
    const auto samples = s.recordTone();
    ASSERT_FALSE(samples.empty());
    int peak = 0;
    for (int16_t v : samples)
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_EQ(peak, 0) << "nothing may play on the client";
    EXPECT_EQ(s.clientSinkInputs().find("Sample Specification"), std::string::npos)
        << "the client opened no playback: " << s.clientSinkInputs();
    EXPECT_EQ(s.serverLog().find("sound: client plays"), std::string::npos);
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#cc3322"));
    EXPECT_TRUE(s.clientShows(0xcc3322));
    EXPECT_TRUE(s.client().running());
}
