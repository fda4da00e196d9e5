// System sound from PulseAudio (or PipeWire's PulseAudio service): the
// monitor source of the default output device, which carries the mix that
// device plays, in the monitor's own sample format.
//
// The server reached is the one PULSE_SERVER names, else the user's own; a
// sound server is never started for us. This process opens no playback
// stream of its own, so the monitor holds nothing of ours to leave out; a
// monitor cannot leave out one program's playback, so that guarantee rests
// on the process, not on the capture.
//
// A capture ends (soundEnded) when the sound server goes away, when the
// recording is ended on its side (the output device was removed) and when
// the server reports another default output: a new start then records the
// new default.
#pragma once
#include "../sound.h"

namespace corvane::platform::pulse {

class PulseSound : public Sound {
  public:
    std::unique_ptr<SoundCapture> start(SoundSink& sink, std::string& error) override;
};

} // namespace corvane::platform::pulse
