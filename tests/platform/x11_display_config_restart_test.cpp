// The X11 display configuration across a restart of the X server: once its
// connection is open again, the new server's screen is the start-up state,
// the change is reported, and outside changes on the new server are
// followed.
#include <atomic>
#include <cstdlib>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include "e2e/harness/e2e_harness.h"
#include "platform/x11/x11_display_config.h"
#include "platform/x11/x11_power.h"

using corvane::platform::Backoff;
using corvane::platform::DisplayBounds;
using corvane::platform::x11::kX11MainDisplayId;
using corvane::platform::x11::X11DisplayConfig;
using corvane::platform::x11::X11Power;
using namespace std::chrono_literals;

namespace {

std::pair<double, double> mainSize(X11DisplayConfig& config) {
    DisplayBounds b;
    if (!config.bounds(kX11MainDisplayId, b))
        return {0, 0};
    return {b.width, b.height};
}

} // namespace

TEST(X11DisplayConfigRestart, TheNewServersScreenIsTheBaselineAndItsChangesAreFollowed) {
    // The watcher's thread and this one use Xlib at once, as in the
    // platform, which switches Xlib's locks on first.
    XInitThreads();
    e2e::Xvfb xvfb(e2e::suites::x11Platform, "640x480x24");
    ASSERT_TRUE(xvfb.ok());
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    Backoff::Clock::time_point now{};
    X11Power power;
    X11DisplayConfig config(power, [&] { return now; });
    std::atomic<int> reports{0}; // the handler runs on the watcher's thread
    config.setScreenChangeHandler([&] { ++reports; });
    EXPECT_EQ(mainSize(config), std::make_pair(640.0, 480.0));

    ASSERT_TRUE(xvfb.restart("800x600x24"));
    // The lost connection is noticed at the next call; the new server is
    // asked once a retry is due.
    EXPECT_EQ(mainSize(config), std::make_pair(0.0, 0.0));
    now += 1s;
    EXPECT_EQ(mainSize(config), std::make_pair(800.0, 600.0));
    ASSERT_TRUE(e2e::waitUntil([&] { return reports >= 1; }, 10s))
        << "the new size was not reported";

    // The watcher follows the new server.
    ASSERT_EQ(
        e2e::run({"xrandr", "-display", xvfb.name(), "--fb", "720x500"}, {}, 10000ms).has_value(),
        true);
    ASSERT_TRUE(e2e::waitUntil([&] { return reports >= 2; }, 10s))
        << "an outside change on the new server went unseen";
    EXPECT_EQ(mainSize(config), std::make_pair(720.0, 500.0));
    config.setScreenChangeHandler({});
}
