// The X11 power service on a private Xvfb: screen saver as sleep, activity
// as wake, and the display assertion holding the screen saver off.
#include <cstdlib>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include "platform/x11/x11_power.h"
#include "xvfb_server.h"

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

class X11PowerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(xvfb_.start(640, 480));
        setenv("DISPLAY", xvfb_.name().c_str(), 1);
        display_ = XOpenDisplay(xvfb_.name().c_str());
        ASSERT_NE(display_, nullptr);
    }
    void TearDown() override {
        if (display_)
            XCloseDisplay(display_);
    }
    corvane::testing::XvfbServer xvfb_;
    Display* display_ = nullptr;
};

} // namespace

TEST_F(X11PowerTest, ActiveScreenSaverIsSleepAndUserActivityEndsIt) {
    X11Power power;
    EXPECT_FALSE(power.displayAsleep());
    XForceScreenSaver(display_, ScreenSaverActive);
    XSync(display_, False);
    EXPECT_TRUE(power.displayAsleep());
    power.declareUserActivity("Corvane remote session");
    EXPECT_FALSE(power.displayAsleep());
}

TEST_F(X11PowerTest, DisplayAssertionHoldsTheScreenSaverOffUntilReleased) {
    XSetScreenSaver(display_, 300, 600, PreferBlanking, AllowExposures);
    XSync(display_, False);
    X11Power power;
    const uint32_t first = power.createAssertion(AssertionKind::PreventDisplaySleep, "remote");
    ASSERT_NE(first, 0u);
    EXPECT_EQ(readScreenSaver(display_).timeout, 0);
    const uint32_t second = power.createAssertion(AssertionKind::PreventDisplaySleep, "again");
    power.releaseAssertion(first);
    EXPECT_EQ(readScreenSaver(display_).timeout, 0) << "still held by the second";
    power.releaseAssertion(second);
    EXPECT_EQ(readScreenSaver(display_).timeout, 300);
    power.releaseAssertion(second); // releasing twice changes nothing
    EXPECT_EQ(readScreenSaver(display_).timeout, 300);
}

TEST_F(X11PowerTest, SystemAssertionNeedsLogind) {
    // Tests run without a system bus, where logind cannot be asked.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/corvane-test-bus", 1);
    X11Power power;
    EXPECT_EQ(power.createAssertion(AssertionKind::PreventSystemSleep, "remote"), 0u);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}
