// Display configuration on GNOME: the recorded monitor (id 1) with its place
// and size and its sleep from mutter's power-save mode, and the session's
// virtual monitors (GnomeVirtualMonitors, ids from 100). A transaction
// cannot change what mutter decides: mirroring is refused (virtual monitors
// extend the desktop), and places are answered by what mutter did: complete()
// says done only when every display asked for already lies where it was
// asked to, and an error otherwise. A 2x mode is never given (1x, pixels =
// points).
#pragma once
#include <mutex>

#include "../display_config.h"
#include "gnome_power.h"
#include "gnome_session.h"
#include "gnome_virtual_monitors.h"

namespace corvane::platform::gnome {

class GnomeDisplayConfig : public DisplayConfig {
  public:
    GnomeDisplayConfig(GnomeSession& session, GnomePower& power, GnomeVirtualMonitors& monitors)
        : session_(session), power_(power), monitors_(monitors) {}

    // While a session runs or mutter's screen-cast interface is there to
    // open one.
    bool virtualDisplaysSupported() override;
    bool placesVirtualDisplaysItself() override { return true; }
    void createVirtualDisplay(const VirtualDisplayDescriptor& descriptor,
                              VirtualDisplayDone done) override {
        monitors_.create(descriptor, std::move(done));
    }
    uint32_t mainDisplay() override;
    std::vector<uint32_t> activeDisplays(size_t max) override;
    std::vector<uint32_t> onlineDisplays(size_t max) override;
    bool bounds(uint32_t display, DisplayBounds& out) override;
    bool currentMode(uint32_t display, DisplayModeInfo& out) override;
    uint32_t mirrorsDisplay(uint32_t) override { return 0; }
    bool asleep(uint32_t display) override;
    std::unique_ptr<DisplayTransaction> begin(int32_t& error) override;
    // Kept, but never called yet: the backend does not watch mutter's
    // MonitorsChanged.
    void setScreenChangeHandler(std::function<void()> handler) override;

  private:
    GnomeSession& session_;
    GnomePower& power_;
    GnomeVirtualMonitors& monitors_;
    std::mutex mutex_;
    std::function<void()> handler_;
};

} // namespace corvane::platform::gnome
