// A test tone and how to find it again in what a client recorded: shared by
// the sound cases of every desktop.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "e2e_session.h"

namespace e2e {

// Two seconds of a 1 kHz sine at 48 kHz, 16-bit stereo, raw.
inline bool writeTone(const std::string& path) {
    constexpr uint32_t rate = 48000, frames = 2 * rate;
    std::vector<int16_t> pcm(frames * 2);
    for (uint32_t i = 0; i < frames; ++i)
        pcm[2 * i] = pcm[2 * i + 1] =
            static_cast<int16_t>(12000 * std::sin(2 * std::numbers::pi * 1000 * i / rate));
    return writeFile(path, std::string(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2));
}

inline std::vector<int16_t> readSamples(const std::string& path) {
    const std::string bytes = readFile(path);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Records the listener's sound server (its null sink, 44.1 kHz mono) while
// the tone plays through the player's; empty when the tone did not play.
inline std::vector<int16_t> recordTone(const Env& player, const Env& listener, const TempDir& dir) {
    const std::string tone = dir.file("tone.raw"), recording = dir.file("heard.raw");
    Process parec;
    if (!writeTone(tone) || !parec.start({"parec", "-d", "nullsink.monitor", "--rate=44100",
                                          "--channels=1", "--format=s16le", "--raw", recording},
                                         listener, dir.file("parec.log"), dir.file("parec.log")))
        return {};
    waitUntil([&] { return readFile(recording).size() > 8820; }, 5000ms);
    const bool played = run({"pacat", "--playback", "--raw", "--format=s16le", "--rate=48000",
                             "--channels=2", tone},
                            player, 15000ms) == std::optional<int>(0);
    // The tail of the tone crosses the network and the client's buffers.
    const size_t atEnd = readFile(recording).size();
    waitUntil([&] { return readFile(recording).size() > atEnd + 44100; }, 5000ms);
    parec.stop();
    return played ? readSamples(recording) : std::vector<int16_t>{};
}

// Where the tone starts in a recording, when at least half a second of it
// followed; nothing otherwise.
inline std::optional<size_t> toneStart(const std::vector<int16_t>& samples) {
    size_t loud = 0;
    while (loud < samples.size() && std::abs(samples[loud]) < 2000)
        ++loud;
    if (loud + 44100 / 2 >= samples.size())
        return std::nullopt;
    return loud;
}

// Goertzel power of one frequency over a stretch of samples.
inline double power(const std::vector<int16_t>& x, size_t from, size_t count, double hz,
                    double rate) {
    const double c = 2 * std::cos(2 * std::numbers::pi * hz / rate);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < from + count; ++i) {
        const double s0 = x[i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

inline double dominantHz(const std::vector<int16_t>& x, size_t from, size_t count, double rate) {
    double best = 0, bestPower = -1;
    for (double hz = 100; hz <= 5000; hz += 10) {
        const double p = power(x, from, count, hz, rate);
        if (p > bestPower)
            bestPower = p, best = hz;
    }
    return best;
}

} // namespace e2e
