#include "gnome_platform.h"

namespace corvane::platform::gnome {

const HostTerms& GnomePlatform::terms() const {
    static constexpr HostTerms kGnome = {
        "this computer",
        "this computer's",
        "GNOME's compositor (mutter)",
        "error",
        "screen position",
        "this GNOME session does not make virtual monitors yet",
        "mutter could not make the virtual monitor",
        "GNOME draws the desktop at twice its size (200 % scale)",
        "mutter's screen cast",
        "mutter's screen-cast interface on the session bus",
        "a local account",
    };
    return kGnome;
}

} // namespace corvane::platform::gnome
