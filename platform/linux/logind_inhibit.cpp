// logind inhibitor locks over the system bus.
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <systemd/sd-bus.h>

#include "logind_inhibit.h"

namespace corvane::platform::linuxos {

int logindInhibit(const char* what, std::string_view why) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        return -1;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const std::string reason(why);
    int fd = -1;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss",
                           what, "Corvane", reason.c_str(), "block") >= 0) {
        int busFd = -1;
        if (sd_bus_message_read(reply, "h", &busFd) >= 0 && busFd >= 0)
            fd = fcntl(busFd, F_DUPFD_CLOEXEC, 3); // the reply owns busFd
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return fd;
}

} // namespace corvane::platform::linuxos
