#include <gtest/gtest.h>

#include <vector>

#include "mac_logic.h"

namespace {

// One buffer handed to the gate: sound or silence, its length in frames,
// and whether it is to be sent.
struct Step {
    bool sound;
    size_t frames;
    int32_t sent;
};

TEST(SilenceGate, SendsSoundAndTheTailOfSilenceAfterIt) {
    const size_t hold = MAC_SILENCE_HOLD_FRAMES;
    const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
        {"silence from the start is held back once the hold passed",
         {{false, hold - 1, 1}, {false, 1, 1}, {false, 1, 0}, {false, 441, 0}}},
        {"sound is always sent", {{true, 441, 1}, {true, 441, 1}, {true, 1, 1}}},
        {"the silence after a sound goes out for the hold, then stops",
         {{true, 441, 1},
          {false, hold / 2, 1},
          {false, hold / 2, 1},
          {false, 441, 1},
          {false, 441, 0}}},
        {"sound after a long silence goes out at once and restarts the hold",
         {{false, 4 * hold, 1},
          {false, 441, 0},
          {true, 441, 1},
          {false, hold, 1},
          {false, 441, 0}}},
        {"one sample of sound in a buffer is sound",
         {{false, 2 * hold, 1}, {false, 441, 0}, {true, 1, 1}}},
    };
    for (const auto& [what, steps] : cases) {
        SCOPED_TRACE(what);
        MacSilenceGate gate = {};
        for (size_t i = 0; i < steps.size(); ++i) {
            std::vector<int16_t> samples(steps[i].frames * 2, 0);
            if (steps[i].sound)
                samples.back() = -1;
            EXPECT_EQ(
                mac_logic_silence_send(&gate, samples.data(), samples.size(), steps[i].frames),
                steps[i].sent)
                << "buffer " << i;
        }
    }
}

TEST(SilenceGate, NullGateSendsAndNullSamplesAreSilence) {
    const int16_t sound[2] = {0, 5};
    EXPECT_EQ(mac_logic_silence_send(nullptr, sound, 2, 1), 1);
    MacSilenceGate gate = {MAC_SILENCE_HOLD_FRAMES};
    EXPECT_EQ(mac_logic_silence_send(&gate, nullptr, 0, 441), 0);
}

} // namespace
