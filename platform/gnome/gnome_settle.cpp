#include "gnome_settle.h"

namespace corvane::platform::gnome {

void GnomeSettleWatch::changed(Time now) {
    ++changes_;
    last_ = now;
}

bool GnomeSettleWatch::due(Time now) {
    if (changes_ == 0 || now - last_ < kGnomeSettleQuiet)
        return false;
    const bool run = changes_ >= 2;
    changes_ = 0;
    return run;
}

} // namespace corvane::platform::gnome
