// System sound: the installed callback, the source format logged once, and
// each sound-carrying stream's conversion.
#include "sound_bridge.h"

#include <atomic>
#include <string>

#include "capture_config.h"
#include "capture_log.h"
#include "mac_capture.h"
#include "platform/platform.h"

namespace corvane::capture {

namespace {

// Written by the core's start step before any stream runs; read by every
// buffer on the capture's thread.
std::atomic<mac_audio_callback> gAudioCB{nullptr};
std::atomic<void*> gAudioUser{nullptr};
std::atomic<bool> gLoggedAudioFormat{false};
std::atomic<bool> gLoggedNoSound{false};

void logFormatOnce(const platform::SoundFormat& format) {
    if (gLoggedAudioFormat.exchange(true))
        return;
    log("system audio %.0f Hz, %u ch, %s, converted to 44100 Hz 16 bit stereo",
        static_cast<double>(format.sampleRate), static_cast<unsigned>(format.channels),
        format.interleaved ? "interleaved" : "one buffer per channel");
}

} // namespace

SoundForward::~SoundForward() {
    capture_.reset();
}

void SoundForward::start() {
    std::string error;
    capture_ = platform::current().sound().start(*this, error);
    if (!capture_ && !gLoggedNoSound.exchange(true))
        log("no system sound (%s); sharing the screen without it", error.c_str());
}

void SoundForward::soundArrived(const platform::SoundBuffer& buffer) {
    const mac_audio_callback callback = gAudioCB.load();
    if (!callback || buffer.frames < 1)
        return;
    logFormatOnce(buffer.format);
    if (!converter_.convert(buffer, converted_))
        return;
    const auto frames = static_cast<intptr_t>(converted_.size() / kOutChannels);
    if (frames < 1)
        return;
    callback(gAudioUser.load(), converted_.data(), frames,
             soundTimestampMs(buffer.presentationSeconds));
}

void resetSoundLogForTests() {
    gLoggedAudioFormat = false;
    gLoggedNoSound = false;
}

} // namespace corvane::capture

extern "C" void mac_capture_set_audio(mac_audio_callback callback, void* user) {
    corvane::capture::gAudioUser.store(user);
    corvane::capture::gAudioCB.store(callback);
    corvane::capture::setSoundCallbackInstalled(callback != nullptr);
}
