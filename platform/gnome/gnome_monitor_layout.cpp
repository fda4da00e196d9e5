#include "gnome_monitor_layout.h"

#include <map>

namespace corvane::platform::gnome {

namespace {

constexpr uint64_t kCallTimeoutUs = 2'000'000;

struct ModeSize {
    int32_t width = 0, height = 0;
};

// One monitor of the "monitors" array: ((ssss) a(siiddada{sv}) a{sv}); the
// size of its current mode by connector.
bool readMonitor(sd_bus_message* m, std::map<std::string, ModeSize>& modes) {
    const char *connector = nullptr, *vendor = nullptr, *product = nullptr, *serial = nullptr;
    if (sd_bus_message_read(m, "(ssss)", &connector, &vendor, &product, &serial) < 0 ||
        sd_bus_message_enter_container(m, 'a', "(siiddada{sv})") < 0)
        return false;
    const std::string name = connector ? connector : "";
    while (sd_bus_message_enter_container(m, 'r', "siiddada{sv}") > 0) {
        const char* id = nullptr;
        int32_t w = 0, h = 0;
        double refresh = 0, preferredScale = 0;
        if (sd_bus_message_read(m, "siidd", &id, &w, &h, &refresh, &preferredScale) < 0 ||
            sd_bus_message_skip(m, "ad") < 0 || sd_bus_message_enter_container(m, 'a', "{sv}") < 0)
            return false;
        bool current = false;
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* key = nullptr;
            int flag = 0;
            if (sd_bus_message_read(m, "s", &key) < 0)
                return false;
            if (key && std::string(key) == "is-current" &&
                sd_bus_message_read(m, "v", "b", &flag) >= 0)
                current = flag != 0;
            else if (sd_bus_message_skip(m, "v") < 0)
                return false;
            sd_bus_message_exit_container(m);
        }
        sd_bus_message_exit_container(m); // a{sv}
        sd_bus_message_exit_container(m); // the mode
        if (current)
            modes[name] = {w, h};
    }
    sd_bus_message_exit_container(m); // modes
    return sd_bus_message_skip(m, "a{sv}") >= 0;
}

// One logical monitor: (iiduba(ssss)a{sv}).
bool readLogical(sd_bus_message* m, const std::map<std::string, ModeSize>& modes,
                 std::vector<GnomeLayoutMonitor>& out) {
    int32_t x = 0, y = 0;
    double scale = 1;
    uint32_t transform = 0;
    int primary = 0;
    if (sd_bus_message_read(m, "iidub", &x, &y, &scale, &transform, &primary) < 0 ||
        sd_bus_message_enter_container(m, 'a', "(ssss)") < 0)
        return false;
    const char *connector = nullptr, *vendor = nullptr, *product = nullptr, *serial = nullptr;
    while (sd_bus_message_read(m, "(ssss)", &connector, &vendor, &product, &serial) > 0) {
        GnomeLayoutMonitor monitor{connector ? connector : "", x, y, 0, 0, scale,
                                   serial ? serial : ""};
        if (auto it = modes.find(monitor.connector); it != modes.end()) {
            monitor.width = it->second.width;
            monitor.height = it->second.height;
        }
        out.push_back(std::move(monitor));
    }
    sd_bus_message_exit_container(m);
    return sd_bus_message_skip(m, "a{sv}") >= 0;
}

} // namespace

bool gnomeReadMonitorLayout(sd_bus_message* reply, std::vector<GnomeLayoutMonitor>& out) {
    uint32_t serial = 0;
    if (!reply || sd_bus_message_read(reply, "u", &serial) < 0 ||
        sd_bus_message_enter_container(reply, 'a', "((ssss)a(siiddada{sv})a{sv})") < 0)
        return false;
    std::map<std::string, ModeSize> modes;
    while (sd_bus_message_enter_container(reply, 'r', "(ssss)a(siiddada{sv})a{sv}") > 0) {
        if (!readMonitor(reply, modes))
            return false;
        sd_bus_message_exit_container(reply);
    }
    sd_bus_message_exit_container(reply);
    if (sd_bus_message_enter_container(reply, 'a', "(iiduba(ssss)a{sv})") < 0)
        return false;
    while (sd_bus_message_enter_container(reply, 'r', "iiduba(ssss)a{sv}") > 0) {
        if (!readLogical(reply, modes, out))
            return false;
        sd_bus_message_exit_container(reply);
    }
    sd_bus_message_exit_container(reply);
    return true;
}

std::optional<GnomeLayoutMonitor> gnomeNewMonitor(const std::vector<GnomeLayoutMonitor>& layout,
                                                  int32_t width, int32_t height,
                                                  const std::set<std::string>& taken) {
    for (const GnomeLayoutMonitor& m : layout)
        if (m.width == width && m.height == height && !taken.count(m.identity()))
            return m;
    return std::nullopt;
}

std::optional<std::vector<GnomeLayoutMonitor>> gnomeMonitorLayout() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0)
        return std::nullopt;
    sd_bus_set_method_call_timeout(bus, kCallTimeoutUs);
    sd_bus_message* reply = nullptr;
    std::optional<std::vector<GnomeLayoutMonitor>> layout;
    if (sd_bus_call_method(bus, "org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                           "org.gnome.Mutter.DisplayConfig", "GetCurrentState", nullptr, &reply,
                           "") >= 0) {
        std::vector<GnomeLayoutMonitor> monitors;
        if (gnomeReadMonitorLayout(reply, monitors))
            layout = std::move(monitors);
    }
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return layout;
}

} // namespace corvane::platform::gnome
