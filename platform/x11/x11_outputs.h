// The outputs of the X screen (physical monitors, or Xvfb's one) while the
// screen mirrors a virtual display: each active output shows that display's
// area. An output takes a mode of the area's size that it lists, or one we
// add where it drives no monitor of its own (no EDID: Xvfb's, a dummy or
// remote output, which shows any size); else its own mode is scaled onto the
// area with a RandR transform (x11_output_steps.h chooses). Afterwards every
// output gets its own mode, place and transform back, and the modes we added
// are removed.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "x11_output_steps.h"

namespace corvane::platform::x11 {

// Whether some CRTC of the screen shows something.
bool anyActiveCrtc(Display* d);

class OutputMirror {
  public:
    // Every output active when the mirroring began shows the area (the
    // screen must already hold it). False when an output can neither take
    // a mode of that size nor scale to it: the outputs are then given back.
    bool show(Display* d, int32_t x, int32_t y, int32_t width, int32_t height);
    // The outputs' own configuration again (the screen must already hold
    // originalExtent()).
    void restore(Display* d);
    bool changed() const { return !saved_.empty(); }
    // The right and bottom edges of what the outputs showed before.
    std::pair<int32_t, int32_t> originalExtent() const;
    // What restore() gives back, as lines of text, and the same taken from
    // such lines (left by a server that ended without giving it back).
    std::string save() const;
    void load(const std::string& text);

  private:
    struct Saved {
        RRCrtc crtc = 0;
        RRMode mode = 0;
        int x = 0, y = 0;
        uint32_t width = 0, height = 0;
        Rotation rotation = RR_Rotate_0;
        std::vector<RROutput> outputs;
        XTransform transform{};
        std::string filter;
        bool transformed = false; // we changed its transform
    };
    struct Added {
        RRMode mode = 0;
        std::vector<RROutput> outputs;
    };
    bool saveActive(Display* d);
    bool showOne(Display* d, Saved& s, int32_t x, int32_t y, int32_t width, int32_t height);
    OutputFacts factsOf(Display* d, const Saved& s, int32_t width, int32_t height) const;
    RRMode findListedMode(Display* d, const Saved& s, uint32_t width, uint32_t height) const;
    RRMode addMode(Display* d, const Saved& s, uint32_t width, uint32_t height);
    bool switchMode(Display* d, Saved& s, int32_t x, int32_t y, const OutputStep& step);
    bool scaleOnto(Display* d, Saved& s, int32_t x, int32_t y, int32_t width, int32_t height,
                   const OutputStep& step);
    void dropAddedModes(Display* d, RRMode keep);

    std::vector<Saved> saved_;
    std::vector<Added> added_;
};

} // namespace corvane::platform::x11
