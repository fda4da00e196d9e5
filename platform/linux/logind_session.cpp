// logind's view of our session: IdleHint, IdleSinceHintMonotonic and
// LockedHint, and LockSession.
#include <cstdlib>
#include <ctime>
#include <memory>

#include <systemd/sd-bus.h>
#include <systemd/sd-login.h>

#include "logind_session.h"

namespace corvane::platform::linuxos {

namespace {

constexpr const char* kLogind = "org.freedesktop.login1";

struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusCloser>;

// The session's id: ours by process, else the environment's.
std::string sessionId() {
    char* id = nullptr;
    if (sd_pid_get_session(0, &id) >= 0 && id) {
        std::string out(id);
        std::free(id);
        return out;
    }
    const char* env = std::getenv("XDG_SESSION_ID");
    return env ? env : "";
}

BusPtr systemBus() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0)
        return nullptr;
    return BusPtr(bus);
}

std::string sessionPath(sd_bus* bus, const std::string& id) {
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::string path;
    if (sd_bus_call_method(bus, kLogind, "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "GetSession", &error, &reply, "s",
                           id.c_str()) >= 0) {
        const char* p = nullptr;
        if (sd_bus_message_read(reply, "o", &p) >= 0 && p)
            path = p;
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return path;
}

bool boolProperty(sd_bus* bus, const std::string& path, const char* name, bool& out) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int value = 0;
    const int r = sd_bus_get_property_trivial(
        bus, kLogind, path.c_str(), "org.freedesktop.login1.Session", name, &error, 'b', &value);
    sd_bus_error_free(&error);
    if (r < 0)
        return false;
    out = value != 0;
    return true;
}

bool usecProperty(sd_bus* bus, const std::string& path, const char* name, uint64_t& out) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_get_property_trivial(
        bus, kLogind, path.c_str(), "org.freedesktop.login1.Session", name, &error, 't', &out);
    sd_bus_error_free(&error);
    return r >= 0;
}

uint64_t monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

} // namespace

bool logindSessionHints(PresenceReading& out) {
    const std::string id = sessionId();
    if (id.empty())
        return false;
    BusPtr bus = systemBus();
    if (!bus)
        return false;
    const std::string path = sessionPath(bus.get(), id);
    if (path.empty())
        return false;
    out = {};
    out.lockedKnown = boolProperty(bus.get(), path, "LockedHint", out.locked);
    bool idle = false;
    if (boolProperty(bus.get(), path, "IdleHint", idle)) {
        // IdleHint is what the session's desktop declares; a desktop that never
        // declares it leaves it false, which says nothing about how long.
        uint64_t since = 0;
        if (idle && usecProperty(bus.get(), path, "IdleSinceHintMonotonic", since) && since) {
            const uint64_t now = monotonicUs();
            out.idleKnown = true;
            out.idleMs = now > since ? (now - since) / 1000u : 0;
        }
    }
    return out.lockedKnown || out.idleKnown;
}

bool logindLockSession(std::string& why) {
    const std::string id = sessionId();
    if (id.empty()) {
        why = "this process is in no logind session";
        return false;
    }
    BusPtr bus = systemBus();
    if (!bus) {
        why = "no system bus";
        return false;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int r = sd_bus_call_method(bus.get(), kLogind, "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "LockSession", &error,
                                     nullptr, "s", id.c_str());
    if (r < 0)
        why = std::string("logind refused: ") + (error.message ? error.message : "unknown error");
    else
        why = "logind LockSession of session " + id;
    sd_bus_error_free(&error);
    return r >= 0;
}

PresenceReading mergePresence(const PresenceReading& a, const PresenceReading& b) {
    PresenceReading m;
    m.lockedKnown = a.lockedKnown || b.lockedKnown;
    m.locked = (a.lockedKnown && a.locked) || (b.lockedKnown && b.locked);
    m.idleKnown = a.idleKnown || b.idleKnown;
    // The shorter idle time wins: input seen by either is input at the desktop.
    if (a.idleKnown && b.idleKnown)
        m.idleMs = a.idleMs < b.idleMs ? a.idleMs : b.idleMs;
    else
        m.idleMs = a.idleKnown ? a.idleMs : b.idleMs;
    return m;
}

PresenceReading LogindPresence::read() {
    PresenceReading r;
    logindSessionHints(r);
    return r;
}

bool LogindPresence::lockSession(std::string& how) {
    return logindLockSession(how);
}

} // namespace corvane::platform::linuxos
