#include "e2e_gnome.h"

#include <csignal>
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

void GnomeDesktop::stop() {
    if (!process_.running())
        return;
    // The script stops the command, mutter and PipeWire in order; only if it
    // hangs does Process::stop end the whole group.
    process_.signal(SIGTERM);
    if (!process_.waitExit(15000ms))
        process_.stop();
}

} // namespace e2e
