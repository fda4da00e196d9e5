// When to have the compositor paint once more after a run of changes.
// mutter 43 (the one that sends no damage metadata) can paint the last frame
// of a run, the end of a window's opening animation for one, without ever
// recording it: the client keeps the frame before it, a window at 95 %
// opacity, until something else moves. Two or more changing pictures
// followed by kGnomeSettleQuiet without one are answered with one repaint;
// a single change is not (its one picture is recorded after its paint), nor
// a picture that changed nothing (the repaint's own among them).
#pragma once
#include <chrono>

namespace corvane::platform::gnome {

inline constexpr std::chrono::milliseconds kGnomeSettleQuiet{250};

class GnomeSettleWatch {
  public:
    using Time = std::chrono::steady_clock::time_point;

    // A picture that changed something arrived at `now`. The watch wants to
    // be asked again kGnomeSettleQuiet later.
    void changed(Time now);
    // Whether a repaint is wanted now: true once for a run of two or more
    // changes that has been quiet for kGnomeSettleQuiet; the run then ends.
    bool due(Time now);

  private:
    int changes_ = 0;
    Time last_{};
};

} // namespace corvane::platform::gnome
