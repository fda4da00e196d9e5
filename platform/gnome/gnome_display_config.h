// Display configuration on GNOME, as far as this backend goes today: the one
// recorded monitor (id 1) with its place and size, its sleep from mutter's
// power-save mode. Virtual monitors (RecordVirtual) and layout changes are
// not made yet: virtualDisplaysSupported() says no and begin() refuses, so
// the subsystem shares the monitor as it is.
#pragma once
#include <mutex>

#include "../display_config.h"
#include "gnome_power.h"
#include "gnome_session.h"

namespace corvane::platform::gnome {

class GnomeDisplayConfig : public DisplayConfig {
  public:
    GnomeDisplayConfig(GnomeSession& session, GnomePower& power)
        : session_(session), power_(power) {}

    bool virtualDisplaysSupported() override { return false; }
    void createVirtualDisplay(const VirtualDisplayDescriptor&, VirtualDisplayDone done) override {
        done(nullptr, "virtual monitors are not made on GNOME yet");
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
    std::mutex mutex_;
    std::function<void()> handler_;
};

} // namespace corvane::platform::gnome
