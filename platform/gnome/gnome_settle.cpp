#include "gnome_settle.h"

namespace corvane::platform::gnome {

void GnomeSettleWatch::changed(Time now, uint64_t pointerPlace, bool large) {
    ++changes_;
    large_ = large_ || large;
    last_ = now;
    pointerPlace_ = pointerPlace;
}

bool GnomeSettleWatch::due(Time now, uint64_t pointerPlace) {
    if (changes_ == 0 || now - last_ < kGnomeSettleQuiet)
        return false;
    const bool run = (changes_ >= 2 || large_) && pointerPlace == pointerPlace_;
    changes_ = 0;
    large_ = false;
    return run;
}

} // namespace corvane::platform::gnome
