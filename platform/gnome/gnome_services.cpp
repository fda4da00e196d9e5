#include "gnome_services.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace corvane::platform::gnome {

namespace {

constexpr double kDefaultDoubleClickSeconds = 0.4;
constexpr auto kOpenWait = std::chrono::seconds(10);

} // namespace

bool gnomeNameOnBus(const char* name) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user(&bus) < 0)
        return false;
    sd_bus_set_method_call_timeout(bus, 2'000'000);
    sd_bus_message* reply = nullptr;
    const bool there =
        sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s", name) >= 0;
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return there;
}

std::optional<GnomeStreamInfo> gnomeRecordedMonitor(GnomeSession& session) {
    if (auto stream = session.stream())
        return stream;
    struct Wait {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto wait = std::make_shared<Wait>();
    session.open([wait](bool, const std::string&) {
        std::lock_guard lock(wait->mutex);
        wait->done = true;
        wait->cv.notify_all();
    });
    std::unique_lock lock(wait->mutex);
    wait->cv.wait_for(lock, kOpenWait, [&] { return wait->done; });
    return session.stream();
}

bool GnomeDisplays::mainDisplay(MainDisplayInfo& out) {
    const auto stream = gnomeRecordedMonitor(session_);
    if (!stream || stream->width <= 0 || stream->height <= 0)
        return false;
    // The recorded size is in the layout's logical pixels; headless and
    // unscaled monitors (the only ones recorded so far) have one pixel each.
    out = {stream->width, stream->height, stream->width, stream->height};
    return true;
}

bool GnomePrivacy::screenAccess(bool) {
    return gnomeNameOnBus("org.gnome.Mutter.ScreenCast");
}

bool GnomePrivacy::accessibilityTrusted(bool) {
    return gnomeNameOnBus("org.gnome.Mutter.RemoteDesktop");
}

bool GnomePrivacy::reset(std::string_view, std::string_view, std::string& message) {
    message = "GNOME keeps no permission for its remote-desktop interface on the user's own "
              "session bus; there is nothing to reset";
    return false;
}

bool GnomePrivacy::openSettings(std::string_view, std::string& message) {
    message = "GNOME asks no permission here: the server needs mutter's screen-cast and "
              "remote-desktop interfaces on the session bus of the desktop it shares";
    return false;
}

double GnomeInputPrefs::doubleClickSeconds() {
    FILE* pipe = ::popen("timeout 2 gsettings get org.gnome.desktop.peripherals.mouse "
                         "double-click 2>/dev/null",
                         "r");
    if (!pipe)
        return kDefaultDoubleClickSeconds;
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    ::pclose(pipe);
    if (!read)
        return kDefaultDoubleClickSeconds;
    // "400" or, typed, "int32 400": the last number of the line.
    const char* digits = line;
    for (const char* p = line; *p; ++p)
        if (*p == ' ')
            digits = p + 1;
    const long ms = std::strtol(digits, nullptr, 10);
    return ms > 0 && ms <= 5000 ? double(ms) / 1000.0 : kDefaultDoubleClickSeconds;
}

int32_t GnomeCursor::seed() {
    auto source = capture_.runningSource();
    return source ? source->cursor().seed : -1;
}

bool GnomeCursor::current(CursorImage& out) {
    auto source = capture_.runningSource();
    if (!source)
        return false;
    GnomeCursorState c = source->cursor();
    if (!c.visible || c.bgra.empty())
        return false;
    out.pointsWidth = c.width;
    out.pointsHeight = c.height;
    out.hotX = c.hotX;
    out.hotY = c.hotY;
    out.representations.clear();
    out.representations.push_back({c.width, c.height, std::move(c.bgra)});
    return true;
}

} // namespace corvane::platform::gnome
