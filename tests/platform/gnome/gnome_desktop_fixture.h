// A private headless GNOME compositor for one test: its own session bus,
// runtime folder and home, PipeWire and WirePlumber, and mutter with one
// virtual monitor. The test process joins that bus and PipeWire through its
// environment (the backend finds both as any client does). Readiness is
// polled; everything started is ended with the fixture.
#pragma once
#include <signal.h>
#include <sys/stat.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "e2e/harness/e2e_harness.h"
#include "platform/gnome/gnome_platform.h"

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

// A value another thread hands over once.
template <class T> struct Answer {
    std::mutex mutex;
    std::condition_variable cv;
    std::optional<T> value;
    void set(T v) {
        std::lock_guard lock(mutex);
        value = std::move(v);
        cv.notify_all();
    }
    bool wait(std::chrono::milliseconds limit = 20s) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, limit, [&] { return value.has_value(); });
    }
};

// Keeps each frame's size and changed rectangles, and why the stream stopped.
class RecordingSink : public CaptureSink {
  public:
    struct Frame {
        int32_t width = 0, height = 0;
        std::vector<DirtyRect> dirty;
    };
    void frameArrived(FrameHandle frame) override {
        std::lock_guard lock(mutex);
        frames.push_back({frame->width, frame->height, frame->dirty});
        cv.notify_all();
    }
    void streamStopped(const std::string& reason) override {
        std::lock_guard lock(mutex);
        stops.push_back(reason);
        cv.notify_all();
    }
    // Waits (bounded) until `done` holds, with the sink locked.
    template <class Pred> bool waitUntil(Pred done, std::chrono::milliseconds limit = 20s) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, limit, done);
    }
    bool waitFrames(size_t count) {
        return waitUntil([&] { return frames.size() >= count; });
    }
    size_t count() {
        std::lock_guard lock(mutex);
        return frames.size();
    }

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Frame> frames;
    std::vector<std::string> stops;
};

// A stream of the display at that size, started; null (and a failure) when
// it did not start.
inline std::unique_ptr<CaptureStream> startedStream(Capture& capture, uint32_t id, int32_t width,
                                                    int32_t height, CaptureSink& sink) {
    CaptureSettings settings;
    settings.width = width;
    settings.height = height;
    settings.minFrameInterval = std::chrono::milliseconds(5);
    std::string error;
    auto stream =
        capture.createStream({id, 0, 0, double(width), double(height)}, settings, sink, error);
    EXPECT_NE(stream, nullptr) << error;
    if (!stream)
        return nullptr;
    Answer<std::string> started;
    stream->start([&](bool ok, const std::string& e) { started.set(ok ? "" : e); });
    started.wait();
    EXPECT_EQ(started.value.value_or("no answer"), "");
    if (started.value != "")
        return nullptr;
    return stream;
}

// The desktop and the gnome platform on it.
class GnomePlatformFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        desktop_ = std::make_unique<HeadlessGnome>();
        ASSERT_TRUE(desktop_->ok()) << desktop_->log();
        platform_ = std::make_unique<GnomePlatform>();
    }
    void TearDown() override {
        platform_.reset();
        desktop_.reset();
    }

    std::unique_ptr<HeadlessGnome> desktop_;
    std::unique_ptr<GnomePlatform> platform_;
};

} // namespace corvane::platform::gnome::testing
