// When to have the compositor paint once more after a run of changes.
// mutter 43 (the one that sends no damage metadata) can paint the last frame
// of a run without ever recording it: the end of a window's opening
// animation, or a window's first content after the blank picture it mapped
// with. The client then keeps the frame before, a window at 95 % opacity or
// a grey one, until something else moves. A run of two or more changing
// pictures, or one change of at least a quarter of the picture, followed by
// kGnomeSettleQuiet without one is answered with one repaint. A lone small
// change is not (a blinking caret or a ticking clock would have the pointer
// moved all the time), nor a picture that changed nothing (the repaint's own
// among them), nor a run after which the pointer moved: mutter painted for
// that move, and a repaint would put the pointer back where it was before.
#pragma once
#include <chrono>
#include <cstdint>

namespace corvane::platform::gnome {

inline constexpr std::chrono::milliseconds kGnomeSettleQuiet{250};

class GnomeSettleWatch {
  public:
    using Time = std::chrono::steady_clock::time_point;

    // A picture that changed something (`large`: a quarter of it or more)
    // arrived at `now`, with the pointer at `pointerPlace` (any number that
    // changes when the pointer moves). The watch wants to be asked again
    // kGnomeSettleQuiet later.
    void changed(Time now, uint64_t pointerPlace, bool large);
    // Whether a repaint is wanted now: true once for a run of two or more
    // changes, or with a large one, that has been quiet for
    // kGnomeSettleQuiet, the pointer still where it was at the last; the run
    // then ends.
    bool due(Time now, uint64_t pointerPlace);

  private:
    int changes_ = 0;
    bool large_ = false;
    Time last_{};
    uint64_t pointerPlace_ = 0;
};

} // namespace corvane::platform::gnome
