#include "gnome_display_config.h"

#include "gnome_capture.h"
#include "gnome_services.h"

namespace corvane::platform::gnome {

namespace {
// The error code of a configuration the backend cannot make.
constexpr int32_t kNotSupported = 1004;
} // namespace

uint32_t GnomeDisplayConfig::mainDisplay() {
    return kGnomeMonitorDisplayId;
}

std::vector<uint32_t> GnomeDisplayConfig::activeDisplays(size_t max) {
    if (max == 0 || !gnomeRecordedMonitor(session_))
        return {};
    return {kGnomeMonitorDisplayId};
}

std::vector<uint32_t> GnomeDisplayConfig::onlineDisplays(size_t max) {
    return activeDisplays(max);
}

bool GnomeDisplayConfig::bounds(uint32_t display, DisplayBounds& out) {
    const auto stream =
        display == kGnomeMonitorDisplayId ? gnomeRecordedMonitor(session_) : std::nullopt;
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
    error = kNotSupported;
    return nullptr;
}

void GnomeDisplayConfig::setScreenChangeHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

} // namespace corvane::platform::gnome
