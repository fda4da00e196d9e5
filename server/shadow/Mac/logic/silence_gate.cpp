// Whether a buffer of system sound is worth sending: exact digital silence
// is what a sound server records from an output nothing plays on.
#include "mac_logic.h"

namespace {

bool silent(const int16_t* samples, size_t count) {
    if (!samples)
        return true;
    for (size_t i = 0; i < count; ++i)
        if (samples[i] != 0)
            return false;
    return true;
}

} // namespace

extern "C" int32_t mac_logic_silence_send(MacSilenceGate* g, const int16_t* samples, size_t count,
                                          size_t frames) noexcept {
    if (!g)
        return 1;
    if (!silent(samples, count)) {
        g->silentFrames = 0;
        return 1;
    }
    // Buffers are counted whole: the one that crosses the hold still goes.
    const bool holding = g->silentFrames < MAC_SILENCE_HOLD_FRAMES;
    if (holding)
        g->silentFrames += frames;
    return holding ? 1 : 0;
}
