// Sound: the one format offered to clients and the receiver that hands each
// converted buffer to every client that listens.
#include "sound.h"

#include "server/shadow/ext/hook_gate.h"

#include <cstdlib>
#include <cstring>

#include <freerdp/codec/audio.h>
#include <freerdp/codec/dsp.h>
#include <winpr/stream.h>

#include "base/clock.h"
#include "base/env.h"
#include "base/log.h"
#include "capture/mac_capture.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint64_t kRateWindowMs = 10000;
// The receiver's lines carry its own name, whichever helper writes them.
constexpr const char* kReceiver = "mac_shadow_audio_callback";

// What the capture bridge delivers: PCM, 44100 Hz, 16-bit, stereo.
AUDIO_FORMAT gServerFormat = {WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0, nullptr};

// Set once by the start step, before any sound flows.
bool gFlipSign = false;

// Only the capture thread that carries sound calls the receiver.
uint64_t gRateWindowStart = 0;
uint64_t gRateFrames = 0;
MacSilenceGate gSilence = {};
// The sound contexts that listened at the previous look (the subsystem
// thread's alone). A context is described when it starts listening, whether
// or not anything plays: the capture reads nothing while the desktop is
// silent.
constexpr size_t kMaxListeners = 64;
uintptr_t gListening[kMaxListeners] = {};
size_t gListeningCount = 0;

bool listenedBefore(uintptr_t context) {
    for (size_t i = 0; i < gListeningCount; ++i)
        if (gListening[i] == context)
            return true;
    return false;
}

void noteRate(intptr_t frames) {
    gRateFrames += static_cast<uint64_t>(frames);
    const uint64_t now = mac_now_ms();
    if (gRateWindowStart == 0) {
        gRateWindowStart = now;
        return;
    }
    const uint64_t elapsed = now - gRateWindowStart;
    if (elapsed < kRateWindowMs)
        return;
    MAC_LOG_FN(WLOG_INFO, kReceiver,
               "sound: %.0f frames/s after conversion (labelled %u Hz), %zu per buffer",
               static_cast<double>(gRateFrames) * 1000.0 / static_cast<double>(elapsed), kRate,
               static_cast<size_t>(frames));
    gRateWindowStart = now;
    gRateFrames = 0;
}

bool listening(const rdpShadowClient* client) {
    if (!client || !client->activated || !client->rdpsnd)
        return false;
    return client->rdpsnd->selected_client_format < client->rdpsnd->num_client_formats;
}

void describeClient(const RdpsndServerContext* sound) {
    const AUDIO_FORMAT& chosen = sound->client_formats[sound->selected_client_format];
    MAC_LOG_FN(WLOG_INFO, kReceiver,
               "sound: client plays %s %u Hz %hu ch %hu bit (format %hu of %hu); we send PCM %u Hz",
               audio_format_get_tag_string(chosen.wFormatTag), chosen.nSamplesPerSec,
               chosen.nChannels, chosen.wBitsPerSample, sound->selected_client_format,
               sound->num_client_formats, kRate);
    for (UINT16 i = 0; i < sound->num_client_formats; ++i) {
        const AUDIO_FORMAT& f = sound->client_formats[i];
        MAC_LOG_FN(WLOG_INFO, kReceiver, "sound: client offers %s %u Hz %hu ch %hu bit",
                   audio_format_get_tag_string(f.wFormatTag), f.nSamplesPerSec, f.nChannels,
                   f.wBitsPerSample);
    }
}

// The library encodes what a client receives from our samples. Builds whose
// encoder writes 16-bit PCM as unsigned (offset by 0x8000) would turn every
// buffer into noise; a silent frame through the library's own encoder tells.
bool libraryOffsetsPcm() {
    FREERDP_DSP_CONTEXT* dsp = freerdp_dsp_context_new(TRUE);
    wStream* out = Stream_New(nullptr, 1024);
    bool offset = false;
    if (dsp && out && freerdp_dsp_context_reset(dsp, &gServerFormat, 0)) {
        int16_t silence[2 * 64] = {};
        if (freerdp_dsp_encode(dsp, &gServerFormat, reinterpret_cast<const BYTE*>(silence),
                               sizeof silence, out) &&
            Stream_GetPosition(out) >= 2) {
            const BYTE* bytes = Stream_Buffer(out);
            offset = bytes[0] == 0x00 && bytes[1] == 0x80;
        }
    }
    Stream_Free(out, TRUE);
    freerdp_dsp_context_free(dsp);
    return offset;
}

// One message with its own copy of the samples; the library frees it with
// mac_shadow_message_free once the client thread has sent it.
void post(rdpShadowClient* client, const int16_t* samples, intptr_t frames, uint32_t timestamp) {
    auto* message = static_cast<SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES*>(
        std::calloc(1, sizeof(SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES)));
    if (!message)
        return;
    const size_t bytes = static_cast<size_t>(frames) * 4;
    void* copy = std::malloc(bytes);
    if (!copy) {
        std::free(message);
        return;
    }
    std::memcpy(copy, samples, bytes);
    if (gFlipSign) {
        auto* values = static_cast<uint16_t*>(copy);
        for (size_t i = 0; i < static_cast<size_t>(frames) * 2; ++i)
            values[i] ^= 0x8000; // the library's offset brings back the original
    }
    message->common.Free = mac_shadow_message_free;
    message->audio_format = &gServerFormat;
    message->buf = copy;
    message->nFrames = static_cast<size_t>(frames);
    message->wTimestamp = static_cast<UINT16>(timestamp & 0xffff);
    shadow_client_post_msg(client, nullptr, SHADOW_MSG_OUT_AUDIO_OUT_SAMPLES_ID, &message->common,
                           nullptr);
}

} // namespace

extern "C" void mac_shadow_audio_callback(void* user, const int16_t* samples, intptr_t frames,
                                          uint32_t timestamp) {
    auto* record = static_cast<macShadowSubsystem*>(user);
    if (!record || !samples || frames <= 0)
        return;
    rdpShadowServer* server = record->common.base.server;
    if (!server || !server->clients)
        return;
    noteRate(frames);
    if (!mac_logic_silence_send(&gSilence, samples, static_cast<size_t>(frames) * 2,
                                static_cast<size_t>(frames)))
        return;
    wArrayList* clients = server->clients;
    ArrayList_Lock(clients);
    const size_t count = ArrayList_Count(clients);
    for (size_t i = 0; i < count; ++i) {
        auto* client = static_cast<rdpShadowClient*>(ArrayList_GetItem(clients, i));
        if (listening(client))
            post(client, samples, frames, timestamp);
    }
    ArrayList_Unlock(clients);
}

void mac_shadow_sound_describe_listeners(macShadowSubsystem* record) {
    rdpShadowServer* server = record ? record->common.base.server : nullptr;
    if (!server || !server->clients)
        return;
    uintptr_t now[kMaxListeners] = {};
    size_t nowCount = 0;
    ArrayList_Lock(server->clients);
    const size_t count = ArrayList_Count(server->clients);
    for (size_t i = 0; i < count; ++i) {
        auto* client = static_cast<rdpShadowClient*>(ArrayList_GetItem(server->clients, i));
        if (!listening(client))
            continue;
        const auto context = reinterpret_cast<uintptr_t>(client->rdpsnd);
        if (context != record->soundState && !listenedBefore(context)) {
            record->soundState = context;
            describeClient(client->rdpsnd);
        }
        if (nowCount < kMaxListeners)
            now[nowCount++] = context;
    }
    ArrayList_Unlock(server->clients);
    std::memcpy(gListening, now, sizeof now);
    gListeningCount = nowCount;
}

void mac_shadow_sound_start(macShadowSubsystem* record) {
    rdpShadowSubsystem& base = record->common.base;
    // The library frees the subsystem's list of sound formats with the first
    // client's sound channel that goes away; only the extension layer's copy
    // per client makes a list of ours safe. Without it the library's own
    // default list per client stands in, and no sound is sent.
    if (!shadow_ext_hook_on(SHADOW_EXT_SOUND_FORMATS)) {
        base.rdpsndFormats = nullptr;
        base.nRdpsndFormats = 0;
        mac_capture_set_audio(nullptr, nullptr);
        MAC_WARN("sound: off, the sound-formats extension is off with this FreeRDP");
        return;
    }
    // An empty list rather than none: without a list the library would offer
    // its own default formats.
    base.rdpsndFormats = &gServerFormat;
    if (!mac_env::audio()) {
        base.nRdpsndFormats = 0;
        mac_capture_set_audio(nullptr, nullptr);
        return;
    }
    base.nRdpsndFormats = 1;
    gFlipSign = libraryOffsetsPcm();
    if (gFlipSign)
        MAC_INFO("sound: the shadow library sends 16-bit PCM unsigned; samples go to it with "
                 "the sign bit flipped");
    mac_capture_set_audio(mac_shadow_audio_callback, record);
}

void mac_shadow_reset_sound_rate(void) {
    gRateWindowStart = 0;
    gRateFrames = 0;
    gSilence = {};
    gListeningCount = 0;
}
