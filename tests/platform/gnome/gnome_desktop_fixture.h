// A private headless GNOME desktop for one test (the end-to-end harness's:
// scripts/gnome-desktop, with mutter's one virtual monitor at 1280x800) that
// the test process joins through its environment: the backend finds the
// desktop's bus and PipeWire as any client does. Everything started ends
// with the fixture.
#pragma once
#include <signal.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "../recording_sink.h"
#include "e2e/harness/e2e_gnome.h"
#include "platform/gnome/gnome_platform.h"

namespace corvane::platform::gnome::testing {

using namespace std::chrono_literals;

class HeadlessGnome {
  public:
    HeadlessGnome() {
        for (const auto& [name, value] : desktop_.env())
            value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
        unsetenv("PIPEWIRE_REMOTE");
    }
    bool ok() const { return desktop_.ok(); }
    std::string log() const { return desktop_.logTail(); }
    // Ends the compositor at once, as a crash would.
    void killCompositor() { desktop_.killCompositor(); }
    // Ends the session bus at once: the daemon beside the desktop's script,
    // both children of dbus-run-session.
    void killBus() {
        const std::string status = e2e::readFile(
            "/proc/" + std::to_string(desktop_.programPid("gnome-desktop")) + "/status");
        const size_t at = status.find("PPid:");
        std::string bus;
        if (at != std::string::npos)
            e2e::run({"pgrep", "-P", std::to_string(std::atoi(status.c_str() + at + 5)), "-x",
                      "dbus-daemon"},
                     {}, 5s, &bus);
        ASSERT_GT(std::atoi(bus.c_str()), 0) << status;
        ::kill(std::atoi(bus.c_str()), SIGKILL);
    }
    // The environment of a Wayland client of this desktop.
    e2e::Env clientEnv() const {
        e2e::Env env = desktop_.env();
        env["QT_QPA_PLATFORM"] = "wayland";
        return env;
    }
    bool startClient(e2e::Process& client, const std::vector<std::string>& argv) {
        const std::string name = dir_.file("client" + std::to_string(++clients_));
        return client.start(argv, clientEnv(), name + ".out", name + ".err");
    }

  private:
    e2e::TempDir dir_;
    e2e::GnomeDesktop desktop_{dir_, "1280x800"};
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

// Frames are kept without their pixels.
struct RecordingSink : platform::testing::RecordingSink {
    RecordingSink() : platform::testing::RecordingSink(false) {}
};
using platform::testing::covers;

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
