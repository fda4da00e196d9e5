// Sound to the clients: one message per listening client with what the
// client must hear, the description and rate lines, Start's format offer and
// its order before the first capture, and each client's own format list.
// (Layout changes restart the capture through the bridge, whose streams never
// wait for a hung sound server: tests/capture/bridge_sound_test.cpp.)
#include <cstring>

#include <freerdp/codec/audio.h>
#include <freerdp/codec/dsp.h>
#include <winpr/stream.h>

#include "capture/mac_capture.h"
#include "server/core/core_fixture.h"
#include "server/shadow/Mac/loop/thread.h"
#include "server/shadow/Mac/sharing/sound.h"
#include "server/shadow/ext/sound_formats.h"

namespace {

using corvane::platform::SampleType;
using corvane::platform::sim::sineBuffer;

constexpr AUDIO_FORMAT kPcm = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0, nullptr};

std::vector<int16_t> ramp(size_t frames) {
    std::vector<int16_t> samples(frames * 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(i * 997 - 30000);
    return samples;
}

// What a client hears: the message's samples after the library's encoder.
std::vector<int16_t> heard(const SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES* msg) {
    FREERDP_DSP_CONTEXT* dsp = freerdp_dsp_context_new(TRUE);
    wStream* out = Stream_New(nullptr, 1024);
    std::vector<int16_t> samples;
    if (freerdp_dsp_context_reset(dsp, msg->audio_format, 0) &&
        freerdp_dsp_encode(dsp, msg->audio_format, static_cast<const BYTE*>(msg->buf),
                           msg->nFrames * 4, out)) {
        samples.resize(Stream_GetPosition(out) / 2);
        std::memcpy(samples.data(), Stream_Buffer(out), samples.size() * 2);
    }
    Stream_Free(out, TRUE);
    freerdp_dsp_context_free(dsp);
    return samples;
}

class SoundToClients : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        mac_shadow_reset_sound_rate();
        unsetenv("MAC_SHADOW_AUDIO");
        sim().simCapture().setDisplays({{1, 0, 0, 1280, 800}}, 1);
    }
    void TearDown() override {
        mac_capture_stop();
        mac_capture_set_audio(nullptr, nullptr);
        for (auto* c : made_) {
            for (auto& m : take(c))
                m.Free(&m);
            MessageQueue_Free(c->MsgQueue);
            c->MsgQueue = nullptr;
            if (c->rdpsnd)
                std::free(c->rdpsnd->client_formats);
            std::free(c->rdpsnd);
            c->rdpsnd = nullptr;
        }
        CoreTest::TearDown();
    }
    // A client with a message queue and a sound channel that negotiated
    // format `selected` of `offered` PCM formats.
    rdpShadowClient* listener(UINT16 selected, UINT16 offered = 1, bool activated = true) {
        rdpShadowClient* c = addClient(activated);
        c->MsgQueue = MessageQueue_New(nullptr);
        c->rdpsnd = static_cast<RdpsndServerContext*>(std::calloc(1, sizeof(RdpsndServerContext)));
        c->rdpsnd->client_formats =
            static_cast<AUDIO_FORMAT*>(std::calloc(offered, sizeof(AUDIO_FORMAT)));
        for (UINT16 i = 0; i < offered; ++i)
            c->rdpsnd->client_formats[i] = kPcm;
        c->rdpsnd->num_client_formats = offered;
        c->rdpsnd->selected_client_format = selected;
        made_.push_back(c);
        return c;
    }
    static std::vector<wMessage> take(rdpShadowClient* c) {
        std::vector<wMessage> out;
        wMessage m = {};
        while (c->MsgQueue && MessageQueue_Peek(c->MsgQueue, &m, TRUE))
            out.push_back(m);
        return out;
    }
    void send(const std::vector<int16_t>& samples, uint32_t timestamp = 0) {
        mac_shadow_audio_callback(record(), samples.data(),
                                  static_cast<intptr_t>(samples.size() / 2), timestamp);
    }
    std::vector<rdpShadowClient*> made_;
};

TEST_F(SoundToClients, EveryListeningClientGetsItsOwnMessageWithWhatItMustHear) {
    mac_shadow_sound_start(record());
    rdpShadowClient* a = listener(0);
    rdpShadowClient* notNegotiated = listener(1, 1);
    rdpShadowClient* inactive = listener(0, 1, false);
    addClient(); // no sound channel
    rdpShadowClient* b = listener(0);
    const auto samples = ramp(480);
    send(samples, 0x12345678);
    mac_shadow_audio_callback(nullptr, samples.data(), 480, 0);
    mac_shadow_audio_callback(record(), nullptr, 480, 0);
    mac_shadow_audio_callback(record(), samples.data(), 0, 0);

    EXPECT_TRUE(take(notNegotiated).empty());
    EXPECT_TRUE(take(inactive).empty());
    auto fromA = take(a);
    auto fromB = take(b);
    ASSERT_EQ(fromA.size(), 1u);
    ASSERT_EQ(fromB.size(), 1u);
    const auto* msgA = static_cast<SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES*>(fromA[0].wParam);
    const auto* msgB = static_cast<SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES*>(fromB[0].wParam);
    EXPECT_EQ(fromA[0].id, static_cast<UINT32>(SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES_ID));
    EXPECT_EQ(msgA->nFrames, 480u);
    EXPECT_EQ(msgA->wTimestamp, 0x5678);
    EXPECT_TRUE(audio_format_compatible(msgA->audio_format, &kPcm));
    EXPECT_EQ(msgA->audio_format->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(msgA->audio_format->nBlockAlign, 4);
    EXPECT_NE(msgA->buf, msgB->buf) << "each client gets its own copy";
    EXPECT_EQ(heard(msgA), samples);
    EXPECT_EQ(heard(msgB), samples);
    for (auto* m : {&fromA[0], &fromB[0]})
        m->Free(m); // through the library's release into mac_shadow_message_free
}

// Described at the loop's look, not with sound: a silent desktop sends none.
TEST_F(SoundToClients, ClientsAreDescribedWhenTheyStartListening) {
    rdpShadowClient* a = listener(0);
    listener(0, 3);
    listener(1, 1); // no format chosen yet: not listening
    for (int i = 0; i < 3; ++i)
        mac_shadow_sound_describe_listeners(record());
    EXPECT_EQ(LogLines::count("sound: client plays WAVE_FORMAT_PCM 44100 Hz 2 ch 16 bit (format "
                              "0 of 1); we send PCM 44100 Hz"),
              1u);
    EXPECT_EQ(LogLines::count("(format 0 of 3)"), 1u);
    EXPECT_EQ(LogLines::count("sound: client offers WAVE_FORMAT_PCM 44100 Hz 2 ch 16 bit"), 4u);
    EXPECT_EQ(record()->soundState, reinterpret_cast<uint64_t>(made_[1]->rdpsnd));
    EXPECT_TRUE(take(a).empty()) << "describing sends nothing";
    listener(0); // a new connection is described once
    mac_shadow_sound_describe_listeners(record());
    mac_shadow_sound_describe_listeners(record());
    EXPECT_EQ(LogLines::count("(format 0 of 1)"), 2u);
}

TEST_F(SoundToClients, RateLineEveryTenSeconds) {
    listener(0);
    const auto samples = ramp(441);
    const uint64_t start = now();
    const std::vector<std::pair<uint64_t, size_t>> steps = {{0, 0},     {5000, 0},  {9999, 0},
                                                            {10000, 1}, {19999, 1}, {20000, 2}};
    for (const auto& [at, lines] : steps) {
        setNow(start + at);
        send(samples);
        EXPECT_EQ(LogLines::count("frames/s after conversion"), lines) << "at " << at << " ms";
    }
    EXPECT_EQ(LogLines::count("sound: 176 frames/s after conversion (labelled 44100 Hz), 441 per "
                              "buffer"),
              1u)
        << "4 buffers of 441 frames over the first 10 s";
}

TEST_F(SoundToClients, StartOffersOnePcmFormatOrNoneWhenSoundIsOff) {
    const std::vector<std::pair<const char*, size_t>> cases = {
        {nullptr, 1}, {"", 1}, {"1", 1}, {"0", 0}, {"0ff", 0}};
    for (const auto& [value, offered] : cases) {
        SCOPED_TRACE(value ? value : "(unset)");
        if (value)
            setenv("MAC_SHADOW_AUDIO", value, 1);
        else
            unsetenv("MAC_SHADOW_AUDIO");
        mac_capture_stop();
        ASSERT_EQ(mac_capture_sound_settle(5000), 1);
        mac_shadow_sound_start(record());
        ASSERT_NE(record()->common.base.rdpsndFormats, nullptr)
            << "without a list the library would offer its own";
        ASSERT_EQ(record()->common.base.nRdpsndFormats, offered);
        if (offered) {
            EXPECT_TRUE(audio_format_compatible(record()->common.base.rdpsndFormats, &kPcm));
        }
        ASSERT_EQ(mac_capture_add(0, 64, 32, 0, 0, 64, 32, 0, 0, nullptr, nullptr), 0);
        ASSERT_EQ(mac_capture_sound_settle(5000), 1);
        EXPECT_EQ(sim().simCapture().streams().back()->settings().captureSound, offered == 1);
    }
    EXPECT_EQ(sim().simSound().captures().size(), 3u);
}

TEST_F(SoundToClients, StartInstallsTheReceiverBeforeTheFirstCapture) {
    rdpShadowClient* a = listener(0); // its session is open: the thread starts the capture
    ASSERT_EQ(mac_shadow_subsystem_start(&record()->common.base), 1);
    ASSERT_TRUE(waitUntilTrue([&] { return !sim().simCapture().streams().empty(); }));
    EXPECT_TRUE(sim().simCapture().streams()[0]->settings().captureSound);
    ASSERT_EQ(mac_capture_sound_settle(5000), 1);
    ASSERT_EQ(sim().simSound().captures().size(), 1u);
    ASSERT_TRUE(sim().simSound().captures()[0]->push(
        sineBuffer({48000, 2, SampleType::F32, true}, 480, 1000, 0.5, 0, 12.0)));
    ASSERT_EQ(mac_shadow_subsystem_stop(&record()->common.base), 1);
    auto messages = take(a);
    ASSERT_EQ(messages.size(), 1u);
    const auto* msg = static_cast<SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES*>(messages[0].wParam);
    EXPECT_NEAR(static_cast<double>(msg->nFrames), 441, 32);
    EXPECT_EQ(msg->wTimestamp, 12000);
    messages[0].Free(&messages[0]);
}

TEST_F(SoundToClients, EachClientChannelGetsItsOwnCopyOfTheFormatList) {
    mac_shadow_sound_start(record());
    rdpShadowClient* a = listener(0);
    a->subsystem = &record()->common.base;
    AUDIO_FORMAT* shared = record()->common.base.rdpsndFormats;
    a->rdpsnd->server_formats = shared;
    a->rdpsnd->num_server_formats = 1;
    ASSERT_TRUE(shadow_ext_client_own_sound_formats(a));
    ASSERT_NE(a->rdpsnd->server_formats, shared);
    EXPECT_TRUE(audio_format_compatible(a->rdpsnd->server_formats, shared));
    EXPECT_FALSE(shadow_ext_client_own_sound_formats(a)) << "already its own";
    audio_formats_free(a->rdpsnd->server_formats, 1);

    record()->common.base.nRdpsndFormats = 0; // sound off: an empty list
    a->rdpsnd->server_formats = shared;
    EXPECT_FALSE(shadow_ext_client_own_sound_formats(a));
    EXPECT_EQ(a->rdpsnd->server_formats, nullptr);
    EXPECT_EQ(a->rdpsnd->num_server_formats, 0u);
}

} // namespace
