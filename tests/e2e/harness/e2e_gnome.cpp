#include "e2e_gnome.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>

namespace e2e {

namespace {

const std::string kScript = CORVANE_GNOME_DESKTOP_SCRIPT;

std::string lastLines(const std::string& text, size_t count) {
    size_t from = text.size();
    // Skip the final line end, then step back over `count` more.
    if (from > 0 && text[from - 1] == '\n')
        --from;
    for (size_t n = 0; n < count && from > 0; ++n) {
        const size_t end = text.rfind('\n', from - 1);
        from = end == std::string::npos ? 0 : end;
    }
    return text.substr(from == 0 ? 0 : from + 1);
}

} // namespace

Env parseEnvLines(const std::string& text) {
    Env env;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos && eq > 0)
            env[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return env;
}

GnomeDesktop::GnomeDesktop(const TempDir& dir, const std::string& size, Duration limit)
    : base_(dir.file("gnome")) {
    std::error_code error;
    std::filesystem::create_directories(base_ + "/run", error);
    std::filesystem::create_directories(base_ + "/home", error);
    std::filesystem::create_directories(base_ + "/logs", error);
    chmod((base_ + "/run").c_str(), 0700);
    const std::string envFile = base_ + "/desktop.env";
    // The command holds the desktop until the test ends it.
    if (!process_.start({kScript, "--size", size, "--runtime-dir", base_ + "/run", "--home",
                         base_ + "/home", "--log-dir", base_ + "/logs", "--env-file", envFile, "--",
                         "sleep", "infinity"},
                        {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, base_ + "/logs/script.log",
                        base_ + "/logs/script.log"))
        return;
    // The script writes the file once mutter's interfaces are on the bus.
    const bool ready =
        waitUntil([&] { return !process_.running() || !readFile(envFile).empty(); }, limit, 100ms);
    const Env env = parseEnvLines(readFile(envFile));
    if (ready && process_.running() && env.count("WAYLAND_DISPLAY") &&
        env.count("DBUS_SESSION_BUS_ADDRESS"))
        env_ = env;
}

GnomeDesktop::~GnomeDesktop() {
    stop();
}

Env GnomeDesktop::env() const {
    Env env = env_;
    env["DISPLAY"] = "";
    return env;
}

std::string GnomeDesktop::logTail() const {
    std::string out;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(base_ + "/logs", error))
        out += "-- " + entry.path().filename().string() + "\n" +
               lastLines(readFile(entry.path().string()), 20) + "\n";
    return out;
}

pid_t GnomeDesktop::programPid(const std::string& name) const {
    const std::string text = readFile(base_ + "/run/" + name + ".pid");
    const long pid = std::strtol(text.c_str(), nullptr, 10);
    return pid > 0 ? static_cast<pid_t>(pid) : -1;
}

bool GnomeDesktop::compositorOnBus() const {
    for (const char* name : {"org.gnome.Mutter.ScreenCast", "org.gnome.Mutter.RemoteDesktop"}) {
        std::string out;
        if (run({"gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                 "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", name},
                env(), 3000ms, &out) != std::optional<int>(0) ||
            out.find("true") == std::string::npos)
            return false;
    }
    return true;
}

bool GnomeDesktop::killCompositor(Duration limit) {
    if (compositor_.running()) {
        compositor_.signal(SIGKILL);
        compositor_.waitExit(limit);
    } else {
        const pid_t pid = programPid("mutter");
        if (pid <= 0 || ::kill(pid, SIGKILL) != 0)
            return false;
    }
    return waitUntil([&] { return !compositorOnBus(); }, limit, 100ms);
}

bool GnomeDesktop::restartCompositor(const std::string& size, Duration limit) {
    if (env_.empty() || compositor_.running())
        return false;
    // The killed compositor's Wayland socket is taken over: its lock went
    // with it, so the name in env() stays right.
    if (!compositor_.start(
            {"mutter", "--headless", "--wayland", "--no-x11", "--virtual-monitor", size}, env(),
            base_ + "/logs/mutter-again.log", base_ + "/logs/mutter-again.log"))
        return false;
    return waitUntil([&] { return !compositor_.running() || compositorOnBus(); }, limit, 200ms) &&
           compositor_.running() &&
           std::filesystem::exists(base_ + "/run/" + env_.at("WAYLAND_DISPLAY"));
}

void GnomeDesktop::stop() {
    compositor_.stop();
    if (!process_.running())
        return;
    // The script stops the command, mutter and PipeWire in order; only if it
    // hangs does Process::stop end the whole group.
    process_.signal(SIGTERM);
    if (!process_.waitExit(15000ms))
        process_.stop();
}

} // namespace e2e
