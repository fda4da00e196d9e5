// The gnome platform's services against a private headless mutter: what the
// small services answer, pointer motion and a key with Shift in its flags
// posted through the session reaching a real Wayland window, and the
// clipboard both ways with wl-clipboard, and the session manager asked to
// keep the desktop awake. (A client's keys, clicks and wheel,
// and the shape a window sets for its pointer, are in tests/e2e/gnome.)
#include <gtest/gtest.h>

#include <systemd/sd-bus.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "gnome_desktop_fixture.h"

namespace corvane::platform::gnome::testing {
namespace {

class GnomePlatformTest : public GnomePlatformFixture {
  protected:
    void TearDown() override {
        stream_.reset();
        GnomePlatformFixture::TearDown();
    }
    // Pointer motion counts only once the stream runs.
    void startStream() {
        stream_ = startedStream(platform_->capture(), kGnomeMonitorDisplayId, 1280, 800, sink_);
        ASSERT_NE(stream_, nullptr);
    }
    void startWindow() {
        log_ = logDir_.file("probe.log");
        ASSERT_TRUE(desktop_->startClient(window_, {CORVANE_PROBE_WINDOW, "--log", log_}));
        ASSERT_TRUE(e2e::waitUntil([&] { return e2e::fileContains(log_, "mapped"); }, 20s));
    }
    bool logged(const std::string& text, std::chrono::milliseconds limit = 10s) {
        return e2e::waitUntil([&] { return e2e::fileContains(log_, text); }, limit);
    }

    std::unique_ptr<CaptureStream> stream_;
    RecordingSink sink_;
    e2e::TempDir logDir_;
    e2e::Process window_;
    std::string log_;
};

TEST_F(GnomePlatformTest, ServicesDescribeTheRecordedMonitorAndTheDesktop) {
    EXPECT_EQ(platform_->name(), "gnome");
    MainDisplayInfo main;
    ASSERT_TRUE(platform_->displays().mainDisplay(main));
    EXPECT_EQ(main, (MainDisplayInfo{1280, 800, 1280, 800}));
    DisplayConfig& config = platform_->displayConfig();
    EXPECT_EQ(config.activeDisplays(4), (std::vector<uint32_t>{kGnomeMonitorDisplayId}));
    DisplayBounds bounds;
    ASSERT_TRUE(config.bounds(kGnomeMonitorDisplayId, bounds));
    EXPECT_EQ(bounds.width, 1280);
    EXPECT_EQ(bounds.height, 800);
    EXPECT_FALSE(config.bounds(7, bounds));
    EXPECT_FALSE(config.asleep(kGnomeMonitorDisplayId));
    EXPECT_TRUE(platform_->privacy().screenAccess(false));
    EXPECT_TRUE(platform_->privacy().accessibilityTrusted(false));
    EXPECT_DOUBLE_EQ(platform_->inputPrefs().doubleClickSeconds(), 0.4);
    EXPECT_STREQ(platform_->terms().system, "GNOME's compositor (mutter)");
}

TEST_F(GnomePlatformTest, PointerAndShiftedKeysReachAWaylandWindow) {
    // A window started after the session opened gets its keyboard: mutter 43
    // makes one only with the first key, which the session sends at open.
    startStream();
    EventPoster& events = platform_->events();
    startWindow();
    // Motion before the stream runs is dropped: move until the window sees it.
    ASSERT_TRUE(e2e::waitUntil(
        [&] {
            events.postMouse(MouseEventType::Moved, {640, 400}, 0, 0);
            return e2e::fileContains(log_, "mouse move x=640 y=400");
        },
        15s, 200ms))
        << e2e::readFile(log_);
    // Shift from the flags alone gives the capital.
    EXPECT_TRUE(events.postKey(0x0B, true, kFlagShift)); // "b"
    EXPECT_TRUE(events.postKey(0x0B, false, kFlagShift));
    EXPECT_TRUE(logged("text=B")) << e2e::readFile(log_);
}

TEST_F(GnomePlatformTest, ClipboardTextBothWays) {
    // wl-clipboard needs a seat with a keyboard: the session's.
    startStream();
    startWindow();
    Pasteboard& pasteboard = platform_->pasteboard();
    const int64_t before = pasteboard.changeCount();
    ASSERT_TRUE(pasteboard.write(PasteboardType::Text, {'f', 'r', 'o', 'm', ' ', 'u', 's'}));
    EXPECT_EQ(pasteboard.changeCount(), before + 1);
    std::string pasted;
    EXPECT_TRUE(e2e::waitUntil(
        [&] {
            pasted.clear();
            return e2e::run({"wl-paste", "--no-newline"}, desktop_->clientEnv(), 10s, &pasted) ==
                       0 &&
                   pasted == "from us";
        },
        15s, 300ms))
        << pasted;
    e2e::Process copier;
    ASSERT_TRUE(desktop_->startClient(copier, {"wl-copy", "from the desktop"}));
    ASSERT_TRUE(e2e::waitUntil([&] { return pasteboard.changeCount() > before + 1; }, 15s));
    EXPECT_EQ(pasteboard.types(), uint32_t(PasteboardType::Text));
    const auto text = pasteboard.read(PasteboardType::Text);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(std::string(text->begin(), text->end()), "from the desktop");
    EXPECT_FALSE(pasteboard.read(PasteboardType::Png).has_value());
}

// Keeping a GNOME desktop awake: the backend asks the session manager
// (org.gnome.SessionManager) to inhibit idle for the screen and suspend for
// the machine, and gives each back with its cookie. The headless desktop has
// no session manager, so the test serves one on the desktop's bus that notes
// every call.
struct Call {
    std::string member, app, reason;
    uint32_t flags = 0, cookie = 0;
};

class FakeSessionManager {
  public:
    bool start() {
        if (sd_bus_open_user(&bus_) < 0 ||
            sd_bus_request_name(bus_, "org.gnome.SessionManager", 0) < 0 ||
            sd_bus_add_filter(bus_, nullptr, &FakeSessionManager::onMessage, this) < 0)
            return false;
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                while (sd_bus_process(bus_, nullptr) > 0) {
                }
                sd_bus_wait(bus_, 50'000);
            }
        });
        return true;
    }
    ~FakeSessionManager() {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
        if (bus_)
            sd_bus_flush_close_unref(bus_);
    }
    std::vector<Call> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

  private:
    static int onMessage(sd_bus_message* m, void* self, sd_bus_error*) {
        auto* fake = static_cast<FakeSessionManager*>(self);
        if (sd_bus_message_is_method_call(m, "org.gnome.SessionManager", "Inhibit")) {
            const char *app = nullptr, *reason = nullptr;
            uint32_t xid = 0, flags = 0;
            if (sd_bus_message_read(m, "susu", &app, &xid, &reason, &flags) < 0)
                return 0;
            std::lock_guard lock(fake->mutex_);
            const uint32_t cookie = 100 + uint32_t(fake->calls_.size());
            fake->calls_.push_back({"Inhibit", app, reason, flags, cookie});
            sd_bus_reply_method_return(m, "u", cookie);
            return 1;
        }
        if (sd_bus_message_is_method_call(m, "org.gnome.SessionManager", "Uninhibit")) {
            uint32_t cookie = 0;
            sd_bus_message_read(m, "u", &cookie);
            std::lock_guard lock(fake->mutex_);
            fake->calls_.push_back({"Uninhibit", {}, {}, 0, cookie});
            sd_bus_reply_method_return(m, "");
            return 1;
        }
        return 0;
    }

    sd_bus* bus_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Call> calls_;
};

TEST_F(GnomePlatformTest, KeepingAwakeIsAskedOfTheSessionManagerAndGivenBack) {
    FakeSessionManager manager;
    ASSERT_TRUE(manager.start());
    Power& power = platform_->power();
    const uint32_t screen = power.createAssertion(AssertionKind::PreventDisplaySleep, "a client");
    const uint32_t machine = power.createAssertion(AssertionKind::PreventSystemSleep, "a client");
    ASSERT_NE(screen, 0u);
    ASSERT_NE(machine, 0u);
    power.releaseAssertion(machine);
    power.releaseAssertion(screen);
    const std::vector<Call> calls = manager.calls();
    ASSERT_EQ(calls.size(), 4u);
    // Idle (8) for the screen, suspend (4) for the machine, each given back
    // by its own cookie.
    EXPECT_EQ(calls[0].member, "Inhibit");
    EXPECT_EQ(calls[0].app, "corvane");
    EXPECT_EQ(calls[0].reason, "a client");
    EXPECT_EQ(calls[0].flags, 8u);
    EXPECT_EQ(calls[1].flags, 4u);
    EXPECT_EQ(calls[2].member, "Uninhibit");
    EXPECT_EQ(calls[2].cookie, calls[1].cookie);
    EXPECT_EQ(calls[3].cookie, calls[0].cookie);
}

} // namespace
} // namespace corvane::platform::gnome::testing
