// Asks the session bus whether mutter's screen-cast interface is there.
#include <systemd/sd-bus.h>

#include <cstdint>
#include <memory>

#include "backend_choice.h"

namespace corvane::platform {

namespace {
struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
constexpr uint64_t kAnswerWithinUs = 1000000;
} // namespace

bool mutterScreenCastOnSessionBus() {
    sd_bus* raw = nullptr;
    if (sd_bus_open_user(&raw) < 0)
        return false;
    std::unique_ptr<sd_bus, BusUnref> bus(raw);
    // A session bus that does not answer must not hold up the server's start.
    sd_bus_set_method_call_timeout(bus.get(), kAnswerWithinUs);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* rawReply = nullptr;
    const int r = sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "NameHasOwner", &error, &rawReply, "s",
                                     "org.gnome.Mutter.ScreenCast");
    sd_bus_error_free(&error);
    if (r < 0)
        return false;
    std::unique_ptr<sd_bus_message, MessageUnref> reply(rawReply);
    int owned = 0;
    return sd_bus_message_read(reply.get(), "b", &owned) >= 0 && owned != 0;
}

} // namespace corvane::platform
