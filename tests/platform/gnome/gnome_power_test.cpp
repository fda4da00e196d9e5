// Keeping a GNOME desktop awake: the backend asks the session manager
// (org.gnome.SessionManager) to inhibit idle for the screen and suspend for
// the machine, and gives each back with its cookie. The headless desktop has
// no session manager, so the test serves one on the desktop's bus that notes
// every call.
#include <gtest/gtest.h>

#include <systemd/sd-bus.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "gnome_desktop_fixture.h"

namespace corvane::platform::gnome::testing {
namespace {

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

class GnomePowerTest : public GnomePlatformFixture {};

TEST_F(GnomePowerTest, KeepingAwakeIsAskedOfTheSessionManagerAndGivenBack) {
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
