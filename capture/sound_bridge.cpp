// System sound: the installed callback, the source format logged once, the
// conversion of every buffer and the process's one sound runner.
#include "sound_bridge.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "capture_config.h"
#include "capture_log.h"
#include "mac_capture.h"
#include "platform/platform.h"
#include "sound_convert.h"
#include "sound_runner.h"

namespace corvane::capture {

namespace {

// What the runner's thread hands buffers to. It lives as long as the
// process, as the runner does: a capture may still be ending while the
// process exits, and must find both in place.
struct SoundOut {
    std::mutex mutex; // guards the rest; held while the callback runs
    mac_audio_callback callback = nullptr;
    void* user = nullptr;
    SoundConverter converter;
    std::vector<int16_t> converted;
};

std::atomic<bool> gLoggedAudioFormat{false};

SoundOut& out() {
    static auto* instance = new SoundOut;
    return *instance;
}

void logFormatOnce(const platform::SoundFormat& format) {
    if (gLoggedAudioFormat.exchange(true))
        return;
    log("system audio %.0f Hz, %u ch, %s, converted to 44100 Hz 16 bit stereo",
        static_cast<double>(format.sampleRate), static_cast<unsigned>(format.channels),
        format.interleaved ? "interleaved" : "one buffer per channel");
}

void deliver(const platform::SoundBuffer& buffer) {
    SoundOut& o = out();
    std::lock_guard lock(o.mutex);
    if (!o.callback || buffer.frames < 1)
        return;
    logFormatOnce(buffer.format);
    if (!o.converter.convert(buffer, o.converted))
        return;
    const auto frames = static_cast<intptr_t>(o.converted.size() / kOutChannels);
    if (frames < 1)
        return;
    o.callback(o.user, o.converted.data(), frames, soundTimestampMs(buffer.presentationSeconds));
}

SoundRunner& runner() {
    // Never destroyed: its thread may be waiting for a sound server that
    // does not answer when the process ends, which must not hold up the end.
    static auto* instance =
        new SoundRunner([]() -> platform::Sound& { return platform::current().sound(); }, deliver);
    return *instance;
}

} // namespace

void wantSound(bool wanted) {
    runner().want(wanted);
}

bool settleSound(std::chrono::milliseconds limit) {
    return runner().settle(limit);
}

void setSoundClockForTests(std::function<platform::Backoff::Clock::time_point()> clock) {
    runner().setClock(std::move(clock));
}

void wakeSoundForTests() {
    runner().wake();
}

void resetSoundForTests() {
    gLoggedAudioFormat = false;
    runner().resetForTests();
}

} // namespace corvane::capture

extern "C" void mac_capture_set_audio(mac_audio_callback callback, void* user) {
    auto& o = corvane::capture::out();
    {
        std::lock_guard lock(o.mutex);
        o.user = user;
        o.callback = callback;
    }
    corvane::capture::setSoundCallbackInstalled(callback != nullptr);
}

extern "C" int32_t mac_capture_sound_settle(int32_t ms) {
    return corvane::capture::settleSound(std::chrono::milliseconds(ms < 0 ? 0 : ms)) ? 1 : 0;
}
