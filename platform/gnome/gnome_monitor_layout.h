// mutter's own account of its monitors (org.gnome.Mutter.DisplayConfig
// GetCurrentState): each monitor's connector, current mode and place in the
// layout. mutter 43 says nothing of a virtual monitor's place or size in its
// screen-cast stream's Parameters (they are set before the monitor exists),
// so virtual monitors are found here, by the monitor that appeared for them.
#pragma once
#include <systemd/sd-bus.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace corvane::platform::gnome {

struct GnomeLayoutMonitor {
    std::string connector;         // "Meta-1" for a virtual monitor
    int32_t x = 0, y = 0;          // logical pixels
    int32_t width = 0, height = 0; // the current mode, pixels
    double scale = 1;
    // mutter gives a virtual monitor's freed connector name to the next one
    // it makes, but each a serial of its own: the two together name one.
    std::string serial;

    std::string identity() const { return connector + "/" + serial; }
};

// Reads a GetCurrentState reply: the monitors in a logical monitor, with the
// size of their current mode. False when the message is not that.
bool gnomeReadMonitorLayout(sd_bus_message* reply, std::vector<GnomeLayoutMonitor>& out);

// The monitor of the asked size whose identity is not among `taken` (those
// there before it was asked for, and those already given out).
std::optional<GnomeLayoutMonitor> gnomeNewMonitor(const std::vector<GnomeLayoutMonitor>& layout,
                                                  int32_t width, int32_t height,
                                                  const std::set<std::string>& taken);

// Asks mutter on the session bus (bounded); nothing when it does not answer.
std::optional<std::vector<GnomeLayoutMonitor>> gnomeMonitorLayout();

} // namespace corvane::platform::gnome
