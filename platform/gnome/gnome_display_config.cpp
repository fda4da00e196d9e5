#include "gnome_display_config.h"

#include <cmath>
#include <string_view>

#include <pipewire/pipewire.h>

#include "gnome_capture.h"
#include "gnome_services.h"

namespace corvane::platform::gnome {

namespace {
// The error code of a configuration the backend cannot make.
constexpr int32_t kNotSupported = 1004;
// A display asked to lie where mutter did not put it.
constexpr int32_t kNotPlaced = 1001;

struct Wanted {
    uint32_t display;
    int32_t x, y;
};

class GnomeDisplayTransaction : public DisplayTransaction {
  public:
    explicit GnomeDisplayTransaction(GnomeDisplayConfig& config) : config_(config) {}
    // Nothing mirrors on GNOME, so ending a mirror is done already.
    int32_t mirror(uint32_t, uint32_t master) override { return master == 0 ? 0 : kNotSupported; }
    int32_t place(uint32_t display, int32_t x, int32_t y) override {
        DisplayBounds b;
        if (!config_.bounds(display, b))
            return kNotPlaced;
        wanted_.push_back({display, x, y});
        return 0;
    }
    void complete(DisplayTransactionDone done) override {
        int32_t error = 0;
        for (const Wanted& w : wanted_) {
            DisplayBounds b;
            if (!config_.bounds(w.display, b) || std::abs(b.x - w.x) > 1 || std::abs(b.y - w.y) > 1)
                error = kNotPlaced;
        }
        wanted_.clear();
        done(error);
    }
    void cancel() override { wanted_.clear(); }

  private:
    GnomeDisplayConfig& config_;
    std::vector<Wanted> wanted_;
};

} // namespace

namespace {
// Virtual monitors were verified with mutter 43 (Debian 12, PipeWire 0.3)
// and mutter 48 (Debian 13, PipeWire 1.4); the PipeWire version stands for
// the desktop's generation. Elsewhere they stay off until verified: the
// desktop is then shared as it is.
bool virtualMonitorsVerifiedHere() {
    static const bool verified = [] {
        const std::string_view version = pw_get_library_version();
        return version.rfind("0.3.", 0) == 0 || version.rfind("1.", 0) == 0;
    }();
    return verified;
}
} // namespace

bool GnomeDisplayConfig::virtualDisplaysSupported() {
    return virtualMonitorsVerifiedHere() &&
           (session_.running() || gnomeNameOnBus("org.gnome.Mutter.ScreenCast"));
}

uint32_t GnomeDisplayConfig::mainDisplay() {
    return kGnomeMonitorDisplayId;
}

std::vector<uint32_t> GnomeDisplayConfig::activeDisplays(size_t max) {
    std::vector<uint32_t> ids;
    if (gnomeRecordedMonitor(session_))
        ids.push_back(kGnomeMonitorDisplayId);
    for (const GnomeVirtualMonitor& m : monitors_.list())
        ids.push_back(m.id);
    if (ids.size() > max)
        ids.resize(max);
    return ids;
}

std::vector<uint32_t> GnomeDisplayConfig::onlineDisplays(size_t max) {
    return activeDisplays(max);
}

bool GnomeDisplayConfig::bounds(uint32_t display, DisplayBounds& out) {
    const auto stream = display == kGnomeMonitorDisplayId ? gnomeRecordedMonitor(session_)
                                                          : monitors_.place(display);
    if (!stream || stream->width <= 0)
        return false;
    out = {double(stream->x), double(stream->y), double(stream->width), double(stream->height)};
    return true;
}

bool GnomeDisplayConfig::currentMode(uint32_t display, DisplayModeInfo& out) {
    DisplayBounds b;
    if (!bounds(display, b))
        return false;
    out = {int32_t(b.width), int32_t(b.height), b.width, b.height};
    return true;
}

bool GnomeDisplayConfig::asleep(uint32_t display) {
    return display == kGnomeMonitorDisplayId && power_.displayAsleep();
}

std::unique_ptr<DisplayTransaction> GnomeDisplayConfig::begin(int32_t& error) {
    error = 0;
    return std::make_unique<GnomeDisplayTransaction>(*this);
}

void GnomeDisplayConfig::setScreenChangeHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

} // namespace corvane::platform::gnome
