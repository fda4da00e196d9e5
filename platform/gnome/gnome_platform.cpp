#include "gnome_platform.h"

namespace corvane::platform::gnome {

const HostTerms& GnomePlatform::terms() const {
    static constexpr HostTerms kGnome = {
        "this computer",
        "this computer's",
        "GNOME's compositor (mutter)",
        "error",
        "mutter's layout position",
        "this GNOME session makes no virtual monitors (mutter's screen-cast interface is not on "
        "the session bus, or virtual monitors are not verified with this mutter yet)",
        "mutter could not make the virtual monitor",
        "GNOME draws the desktop at twice its size (200 % scale)",
        "mutter's screen cast",
        "mutter's screen-cast interface on the session bus",
        "a local account",
    };
    return kGnome;
}

} // namespace corvane::platform::gnome
