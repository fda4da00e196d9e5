// The sound half of the capture bridge: the stream that carries system sound
// wants it while it runs, the sound runner (sound_runner.h) keeps the
// platform's capture going on its own thread, and every buffer is converted
// and handed to the installed callback.
#pragma once
#include <chrono>
#include <functional>

#include "platform/backoff.h"

namespace corvane::capture {

// Never waits for the sound server; see SoundRunner::want.
void wantSound(bool wanted);
// Waits up to `limit` until sound runs or is stopped as wanted.
bool settleSound(std::chrono::milliseconds limit);

// Tests: the sound schedule's clock (null restores the real one), and a
// look at the schedule after the clock moved.
void setSoundClockForTests(std::function<platform::Backoff::Clock::time_point()> clock);
void wakeSoundForTests();
// Tests: past failures are forgotten and the once-per-process log lines may
// be written again.
void resetSoundForTests();

} // namespace corvane::capture
