#include "gnome_power.h"

#include <unistd.h>

#include <string>

#include "../linux/logind_inhibit.h"

namespace corvane::platform::gnome {

namespace {

constexpr const char* kSessionManager = "org.gnome.SessionManager";
constexpr const char* kSessionManagerPath = "/org/gnome/SessionManager";
constexpr const char* kDisplayConfig = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kDisplayConfigPath = "/org/gnome/Mutter/DisplayConfig";
// org.gnome.SessionManager Inhibit flags.
constexpr uint32_t kInhibitSuspend = 4;
constexpr uint32_t kInhibitIdle = 8;
constexpr uint64_t kCallTimeoutUsec = 2'000'000;

} // namespace

GnomePower::~GnomePower() {
    std::lock_guard lock(mutex_);
    for (auto& [id, held] : held_)
        releaseLocked(held);
    held_.clear();
    if (bus_)
        sd_bus_flush_close_unref(bus_);
}

sd_bus* GnomePower::busLocked() {
    if (bus_ && sd_bus_is_open(bus_) > 0)
        return bus_;
    if (bus_)
        sd_bus_flush_close_unref(bus_);
    bus_ = nullptr;
    if (sd_bus_open_user(&bus_) < 0) {
        bus_ = nullptr;
        return nullptr;
    }
    sd_bus_set_method_call_timeout(bus_, kCallTimeoutUsec);
    return bus_;
}

uint32_t GnomePower::inhibitLocked(uint32_t flags, std::string_view why) {
    sd_bus* bus = busLocked();
    if (!bus)
        return 0;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    uint32_t cookie = 0;
    const std::string reason(why);
    if (sd_bus_call_method(bus, kSessionManager, kSessionManagerPath, kSessionManager, "Inhibit",
                           &error, &reply, "susu", "corvane", 0u, reason.c_str(), flags) >= 0)
        sd_bus_message_read(reply, "u", &cookie);
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return cookie;
}

void GnomePower::releaseLocked(const Held& held) {
    if (held.cookie && bus_)
        sd_bus_call_method(bus_, kSessionManager, kSessionManagerPath, kSessionManager, "Uninhibit",
                           nullptr, nullptr, "u", held.cookie);
    if (held.inhibitorFd >= 0)
        ::close(held.inhibitorFd);
}

bool GnomePower::displayAsleep() {
    std::lock_guard lock(mutex_);
    sd_bus* bus = busLocked();
    int32_t mode = 0;
    // 0 is on; standby, suspend and off all hide the desktop.
    return bus &&
           sd_bus_get_property_trivial(bus, kDisplayConfig, kDisplayConfigPath, kDisplayConfig,
                                       "PowerSaveMode", nullptr, 'i', &mode) >= 0 &&
           mode > 0;
}

void GnomePower::nudgePointer() {
    const auto stream = session_.stream();
    if (!stream)
        return;
    session_.callSession("NotifyPointerMotionAbsolute",
                         [path = stream->streamPath](sd_bus_message* m) {
                             return sd_bus_message_append(m, "sdd", path.c_str(), 1.0, 1.0);
                         });
}

uint32_t GnomePower::createAssertion(AssertionKind kind, std::string_view name) {
    std::lock_guard lock(mutex_);
    const bool display = kind == AssertionKind::PreventDisplaySleep;
    Held held;
    held.cookie = inhibitLocked(display ? kInhibitIdle : kInhibitSuspend, name);
    held.inhibitorFd = linuxos::logindInhibit(display ? "idle" : "sleep", name);
    if (!held.cookie && held.inhibitorFd < 0)
        return 0;
    const uint32_t id = nextId_++;
    held_[id] = held;
    return id;
}

void GnomePower::releaseAssertion(uint32_t id) {
    std::lock_guard lock(mutex_);
    auto it = held_.find(id);
    if (it == held_.end())
        return;
    releaseLocked(it->second);
    held_.erase(it);
}

uint32_t GnomePower::declareUserActivity(std::string_view) {
    std::lock_guard lock(mutex_);
    sd_bus* bus = busLocked();
    int32_t mode = 0;
    if (bus &&
        sd_bus_get_property_trivial(bus, kDisplayConfig, kDisplayConfigPath, kDisplayConfig,
                                    "PowerSaveMode", nullptr, 'i', &mode) >= 0 &&
        mode > 0)
        sd_bus_set_property(bus, kDisplayConfig, kDisplayConfigPath, kDisplayConfig,
                            "PowerSaveMode", nullptr, "i", 0);
    return 0;
}

uint32_t GnomePower::declareSystemActivity(std::string_view) {
    return 0;
}

} // namespace corvane::platform::gnome
