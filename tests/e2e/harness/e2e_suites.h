// The X displays and 127.0.0.1 ports of each suite that starts X servers or
// servers, and claims on them. ctest runs suites, and the cases of one
// suite, side by side: no two rows share a display or a port, and a case
// takes a free slot of its row (two displays and a port) for as long as it
// runs. Ports stay below 32768, outside Linux's ephemeral range: a client
// socket given the same local port would otherwise take the port from the
// server. (The permission probe's 33895 is the application's own and opens no
// socket.) The rows stay clear of the benchmarks' displays (:80-:99, and
// :150 up, where bench/layout_bench.sh takes the first free ones) and ports
// (24790-24999), and of scripts/package-test (:470-:471, port 24700).
#pragma once
#include <chrono>

namespace e2e {

struct Suite {
    int firstDisplay, lastDisplay;
    int firstPort, lastPort; // none when lastPort < firstPort
};

namespace suites {
// tests/platform: each case takes the first free display of its row.
inline constexpr Suite x11Platform{50, 59, 0, -1};
inline constexpr Suite supervision{200, 203, 24400, 24401}; // tests/ui
inline constexpr Suite foundation{210, 217, 24410, 24413};
inline constexpr Suite screen{220, 227, 24420, 24423};
inline constexpr Suite logins{230, 237, 24430, 24433};
inline constexpr Suite input{240, 247, 24440, 24443};
inline constexpr Suite abuse{250, 253, 24450, 24451};
inline constexpr Suite clipboard{260, 263, 24460, 24461};
inline constexpr Suite sound{270, 277, 24470, 24473};
inline constexpr Suite layout{280, 289, 24480, 24484};
inline constexpr Suite codec{290, 297, 24490, 24493};
inline constexpr Suite contracts{300, 307, 24500, 24503};
// tests/e2e/gnome: the server's desktop is GNOME; the displays are the
// client's.
inline constexpr Suite gnome{310, 317, 24510, 24513};

inline constexpr const Suite* all[] = {&x11Platform, &supervision, &foundation, &screen, &logins,
                                       &input,       &abuse,       &clipboard,  &sound,  &layout,
                                       &codec,       &contracts,   &gnome};

constexpr bool apart(int a0, int a1, int b0, int b1) {
    return a1 < a0 || b1 < b0 || a1 < b0 || b1 < a0;
}
constexpr bool noneShared() {
    for (const Suite* a : all)
        for (const Suite* b : all)
            if (a != b &&
                (!apart(a->firstDisplay, a->lastDisplay, b->firstDisplay, b->lastDisplay) ||
                 !apart(a->firstPort, a->lastPort, b->firstPort, b->lastPort)))
                return false;
    return true;
}
static_assert(noneShared(), "two suites share a display or a port");
} // namespace suites

// A claim on one slot of a suite: displays display(0) and display(1) and
// port(), free of other X servers and listeners when claimed and kept from
// other cases (of any process) until the claim ends. Waits for a free slot.
class Slot {
  public:
    explicit Slot(const Suite& suite,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(120000));
    ~Slot();
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    bool ok() const { return lock_ >= 0; }
    int display(int i) const { return display_ + i; }
    int port() const { return port_; }

  private:
    int lock_ = -1;
    int display_ = -1; // no X server starts on a slot not claimed
    int port_ = -1;
};

} // namespace e2e
