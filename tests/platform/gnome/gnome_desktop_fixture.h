// A private headless GNOME compositor for one test: its own session bus,
// runtime folder and home, PipeWire and WirePlumber, and mutter with one
// virtual monitor. The test process joins that bus and PipeWire through its
// environment (the backend finds both as any client does). Readiness is
// polled; everything started is ended with the fixture.
#pragma once
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "e2e/harness/e2e_harness.h"

namespace corvane::platform::gnome::testing {

using namespace std::chrono_literals;

class HeadlessGnome {
  public:
    explicit HeadlessGnome(const std::string& monitor = "1280x800") {
        runtime_ = dir_.file("run");
        const std::string home = dir_.file("home");
        std::filesystem::create_directories(runtime_);
        std::filesystem::create_directories(home);
        ::chmod(runtime_.c_str(), 0700);
        const std::string bus = "unix:path=" + dir_.file("bus");
        env_ = {{"XDG_RUNTIME_DIR", runtime_},
                {"HOME", home},
                {"DBUS_SESSION_BUS_ADDRESS", bus},
                {"GSETTINGS_BACKEND", "memory"},
                {"NO_AT_BRIDGE", "1"},
                {"DISPLAY", ""},
                {"WAYLAND_DISPLAY", ""},
                {"PIPEWIRE_REMOTE", ""}};
        // The test process is a client of this desktop like any other.
        for (const auto& [name, value] : env_)
            value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
        if (!bus_.start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + bus},
                        env_, dir_.file("dbus.out"), dir_.file("dbus.err")) ||
            !e2e::waitUntil([&] { return std::filesystem::exists(dir_.file("bus")); }, 10s))
            return;
        if (!pipewire_.start({"pipewire"}, env_, dir_.file("pw.out"), dir_.file("pw.err")) ||
            !e2e::waitUntil([&] { return std::filesystem::exists(runtime_ + "/pipewire-0"); }, 10s))
            return;
        if (!wireplumber_.start({"wireplumber"}, env_, dir_.file("wp.out"), dir_.file("wp.err")))
            return;
        ok_ = startCompositor(monitor);
    }
    ~HeadlessGnome() {
        mutter_.stop();
        wireplumber_.stop();
        pipewire_.stop();
        bus_.stop();
    }
    bool ok() const { return ok_; }
    // Ends the compositor at once, as a crash would.
    void killCompositor() {
        mutter_.signal(SIGKILL);
        mutter_.waitExit(5s);
    }
    // Ends the session bus at once.
    void killBus() {
        bus_.signal(SIGKILL);
        bus_.waitExit(5s);
    }
    std::string clientLog() const {
        std::string all;
        for (int i = 1; i <= clients_; ++i)
            all += e2e::readFile(dir_.file("client" + std::to_string(i) + ".err"));
        return all;
    }
    std::string log() const { return e2e::readFile(dir_.file("mutter.err")); }
    // The environment of a Wayland client of this desktop.
    e2e::Env clientEnv() const {
        e2e::Env env = env_;
        env["WAYLAND_DISPLAY"] = "wayland-0";
        env["QT_QPA_PLATFORM"] = "wayland";
        return env;
    }
    bool startClient(e2e::Process& client, const std::vector<std::string>& argv) {
        const std::string name = std::to_string(++clients_);
        return client.start(argv, clientEnv(), dir_.file("client" + name + ".out"),
                            dir_.file("client" + name + ".err"));
    }

  private:
    bool startCompositor(const std::string& monitor) {
        if (!mutter_.start(
                {"mutter", "--headless", "--wayland", "--no-x11", "--virtual-monitor", monitor},
                env_, dir_.file("mutter.out"), dir_.file("mutter.err")))
            return false;
        for (const char* name : {"org.gnome.Mutter.ScreenCast", "org.gnome.Mutter.RemoteDesktop"})
            if (e2e::run({"gdbus", "wait", "--session", "--timeout", "30", name}, env_, 35s) != 0)
                return false;
        return true;
    }

    e2e::TempDir dir_;
    std::string runtime_;
    e2e::Env env_;
    e2e::Process bus_, pipewire_, wireplumber_, mutter_;
    bool ok_ = false;
    int clients_ = 0;
};

} // namespace corvane::platform::gnome::testing
