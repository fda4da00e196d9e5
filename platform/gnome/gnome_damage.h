// Damage metadata placed on the picture it came with. mutter 44 to 47 sends
// a stream's damage in the picture's own coordinates; mutter 48 sends a
// virtual monitor's damage where that monitor sits on the desktop (a monitor
// at 1280,0 reports its whole picture as 1280,0 1024x768). A rectangle the
// size of the whole picture (every full repaint, the first picture among
// them) tells which: where it lies is the picture's origin in the damage.
// mutter 48 also marks a repaint without a clip as the whole picture at 0,0
// while its other damage stays where the monitor sits, so after such a
// rectangle either origin may hold; damage that falls on the picture from
// both is not trusted.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "../types.h"

namespace corvane::platform::gnome {

class GnomeDamagePlacer {
  public:
    // The changed rectangles of a width x height picture from its damage,
    // clipped to it; none when the damage does not fall on the picture or
    // names all of it (what changed has to be found by comparing pictures
    // instead).
    std::optional<std::vector<Rect>> place(const std::vector<Rect>& damage, int32_t width,
                                           int32_t height);
    // A new picture size: the origin is learnt again.
    void reset() {
        originX_ = originY_ = 0;
        zeroToo_ = false;
    }

  private:
    int32_t originX_ = 0;
    int32_t originY_ = 0;
    bool zeroToo_ = false; // 0,0 may be the origin as well
};

} // namespace corvane::platform::gnome
