// The X11 power service on a private Xvfb: screen saver as sleep, activity
// as wake, and the display assertion holding the screen saver off.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "platform/x11/x11_power.h"
#include "xvfb_fixture.h"

#include <X11/extensions/scrnsaver.h>

using corvane::platform::AssertionKind;
using corvane::platform::x11::X11Power;

namespace {

struct ScreenSaverSettings {
    int timeout = 0, interval = 0, blanking = 0, exposures = 0;
};

ScreenSaverSettings readScreenSaver(Display* d) {
    ScreenSaverSettings s;
    XGetScreenSaver(d, &s.timeout, &s.interval, &s.blanking, &s.exposures);
    return s;
}

bool saverOn(Display* d) {
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    const bool on =
        XScreenSaverQueryInfo(d, DefaultRootWindow(d), info) && info->state == ScreenSaverOn;
    XFree(info);
    return on;
}

class X11PowerTest : public corvane::platform::x11::testing::XvfbTest {
  protected:
    void SetUp() override { startXvfb("640x480x24"); }
};

} // namespace

TEST_F(X11PowerTest, ActiveScreenSaverIsSleepAndUserActivityEndsIt) {
    X11Power power;
    EXPECT_FALSE(power.displayAsleep());
    XForceScreenSaver(d_, ScreenSaverActive);
    XSync(d_, False);
    EXPECT_TRUE(power.displayAsleep());
    power.declareUserActivity("Corvane remote session");
    EXPECT_FALSE(power.displayAsleep());
}

// The display assertion holds the screen saver off without changing the X
// server's settings, and a holder that is killed takes the hold with it:
// the screen blanks again as the person at the desktop set it up.
TEST_F(X11PowerTest, DisplayAssertionEndsWithItsHolderEvenWhenKilled) {
    XSetScreenSaver(d_, 1, 0, PreferBlanking, AllowExposures);
    XSync(d_, False);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        X11Power power;
        const char ok =
            power.createAssertion(AssertionKind::PreventDisplaySleep, "remote") != 0 ? 1 : 0;
        (void)!write(ready[1], &ok, 1);
        pause();
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(readScreenSaver(d_).timeout, 1) << "the settings stay as they were";
    // The X server's own one-second timer would have blanked the screen by
    // now without the hold.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_FALSE(saverOn(d_));
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    bool blanked = false;
    for (int i = 0; i < 50 && !blanked; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        blanked = saverOn(d_);
    }
    EXPECT_TRUE(blanked) << "the hold ended with the killed holder's connection";
    EXPECT_EQ(readScreenSaver(d_).timeout, 1);
    close(ready[0]);
    close(ready[1]);
}

TEST_F(X11PowerTest, SystemAssertionNeedsLogind) {
    // Tests run without a system bus, where logind cannot be asked.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/corvane-test-bus", 1);
    X11Power power;
    EXPECT_EQ(power.createAssertion(AssertionKind::PreventSystemSleep, "remote"), 0u);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}
