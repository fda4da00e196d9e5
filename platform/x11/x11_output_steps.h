// How one active output of the X screen comes to show the area of a
// mirrored virtual display, decided apart from the RandR requests that carry
// it out (x11_outputs.cpp). Pure.
//
// In order: a mode of the area's size that the output lists; a mode of that
// size added to an output that drives no monitor of its own (no EDID); the
// output's own mode scaled onto the area with a RandR transform. The caller
// tries the steps until one takes effect; when none is left the mirroring
// fails as a whole and the server shares the real screen instead, fitted
// into the client's desktop (letterboxed).
#pragma once
#include <cstdint>
#include <vector>

namespace corvane::platform::x11 {

// What the choice needs to know of one active CRTC.
struct OutputFacts {
    uint32_t modeWidth = 0, modeHeight = 0; // its own mode (0 when unknown)
    bool sideways = false;                  // turned a quarter: the mode stands on its side
    bool listsSize = false;    // all its outputs list a mode of the size the area needs
    bool takesAnySize = false; // none of its outputs drives a monitor with an EDID
};

enum class OutputWay {
    listedMode, // a listed mode of the area's size
    addedMode,  // a mode of the area's size, added to its outputs
    scaled,     // its own mode, scaled onto the area by a transform
};

struct OutputStep {
    OutputWay way = OutputWay::listedMode;
    uint32_t modeWidth = 0, modeHeight = 0; // the mode it is to show, as the monitor scans it
    // Screen pixels per mode pixel along the screen's axes (1 but for a
    // scaled step): the diagonal of the transform.
    double scaleX = 1, scaleY = 1;

    bool operator==(const OutputStep&) const = default;
};

std::vector<OutputStep> outputSteps(const OutputFacts& facts, int32_t width, int32_t height);

} // namespace corvane::platform::x11
