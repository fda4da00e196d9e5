// The X11 display configuration on a private Xvfb that can grow to
// 8192 x 4096: the display space and its limit, 2x displays with the root
// window's resources, an active output (with and without a monitor's EDID)
// that shows a mirrored display and gets its own mode back, and what a
// process that ended without giving it back left changed; and across a
// restart of the X server: once its connection is open again, the new
// server's screen is the start-up state, the change is reported, and outside
// changes on the new server are followed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <string>

#include "e2e/harness/x11_probe.h"
#include "platform/x11/x11_display_config.h"
#include "platform/x11/x11_power.h"
#include "platform/x11/x11_resources.h"
#include "xvfb_fixture.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xrandr.h>

using corvane::platform::Backoff;
using corvane::platform::DisplayBounds;
using corvane::platform::VirtualDisplayDescriptor;
using corvane::platform::x11::kX11MainDisplayId;
using corvane::platform::x11::X11DisplayConfig;
using corvane::platform::x11::X11Power;
using namespace std::chrono_literals;

namespace {

struct CrtcState {
    int width = 0, height = 0; // of its mode
    std::string mode;
    int scanWidth = 0, scanHeight = 0; // what it covers of the screen
    XFixed scaleX = 0, scaleY = 0;     // the diagonal of its transform
};

class X11DisplayConfigTest : public corvane::platform::x11::testing::XvfbTest {
  protected:
    void SetUp() override { startXvfb("8192x4096x24"); }
    void xrandr(std::vector<std::string> args) {
        args.insert(args.begin(), "xrandr");
        e2e::run(args, {}, std::chrono::milliseconds(10000));
    }
    // A 1280 x 800 screen with its output switched off (as scripts/run
    // leaves it) or showing a 1280 x 800 mode.
    void startAt1280x800(bool outputOn) {
        xrandr({"--fb", "1280x800"});
        if (outputOn) {
            xrandr({"--newmode", "own", "60", "1280", "1281", "1282", "1283", "800", "801", "802",
                    "803"});
            xrandr({"--addmode", "screen", "own"});
            xrandr({"--output", "screen", "--mode", "own"});
        }
        ASSERT_EQ(screen(), std::make_pair(1280, 800));
    }
    std::pair<int, int> screen() {
        Window root = 0;
        int x = 0, y = 0;
        unsigned w = 0, h = 0, border = 0, depth = 0;
        XGetGeometry(d_, DefaultRootWindow(d_), &root, &x, &y, &w, &h, &border, &depth);
        return {static_cast<int>(w), static_cast<int>(h)};
    }
    CrtcState crtc() {
        CrtcState state;
        XRRScreenResources* res = XRRGetScreenResourcesCurrent(d_, DefaultRootWindow(d_));
        if (!res || res->ncrtc < 1)
            return state;
        XRRCrtcInfo* info = XRRGetCrtcInfo(d_, res, res->crtcs[0]);
        for (int i = 0; info && i < res->nmode; ++i)
            if (res->modes[i].id == info->mode) {
                state.width = static_cast<int>(res->modes[i].width);
                state.height = static_cast<int>(res->modes[i].height);
                state.mode = std::string(res->modes[i].name, res->modes[i].nameLength);
            }
        if (info) {
            state.scanWidth = static_cast<int>(info->width);
            state.scanHeight = static_cast<int>(info->height);
            XRRFreeCrtcInfo(info);
        }
        XRRCrtcTransformAttributes* transform = nullptr;
        if (XRRGetCrtcTransform(d_, res->crtcs[0], &transform) && transform) {
            state.scaleX = transform->currentTransform.matrix[0][0];
            state.scaleY = transform->currentTransform.matrix[1][1];
            XFree(transform);
        }
        XRRFreeScreenResources(res);
        return state;
    }
    std::optional<std::string> giveBack() {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        const Atom name = XInternAtom(d_, "CORVANE_GIVE_BACK", False);
        if (XGetWindowProperty(d_, DefaultRootWindow(d_), name, 0, 1 << 16, False, XA_STRING, &type,
                               &format, &items, &after, &data) != Success ||
            type == 0 || !data) {
            if (data)
                XFree(data);
            return std::nullopt;
        }
        std::string text(reinterpret_cast<const char*>(data), items);
        XFree(data);
        return text;
    }
    size_t monitorsNamed(const std::string& prefix) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(d_, DefaultRootWindow(d_), False, &count);
        size_t n = 0;
        for (int i = 0; monitors && i < count; ++i) {
            char* name = XGetAtomName(d_, monitors[i].name);
            n += name && std::string(name).rfind(prefix, 0) == 0;
            if (name)
                XFree(name);
        }
        if (monitors)
            XRRFreeMonitors(monitors);
        return n;
    }
    void setResources(const std::string& db) {
        XChangeProperty(d_, DefaultRootWindow(d_), XA_RESOURCE_MANAGER, XA_STRING, 8,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(db.data()),
                        static_cast<int>(db.size()));
        XSync(d_, False);
    }
    size_t modesNamed(const std::string& prefix) {
        XRRScreenResources* res = XRRGetScreenResourcesCurrent(d_, DefaultRootWindow(d_));
        size_t n = 0;
        for (int i = 0; res && i < res->nmode; ++i)
            n += std::string(res->modes[i].name, res->modes[i].nameLength).rfind(prefix, 0) == 0;
        if (res)
            XRRFreeScreenResources(res);
        return n;
    }
    static VirtualDisplayDescriptor descriptor(uint32_t w, uint32_t h, bool hiDPI = false) {
        VirtualDisplayDescriptor v;
        v.name = "Corvane Display 1";
        v.modePointsWide = w;
        v.modePointsHigh = h;
        v.widthMillimetres = w * 25.4 / 110;
        v.heightMillimetres = h * 25.4 / 110;
        v.hiDPI = hiDPI;
        return v;
    }
    // Places the displays (and lets the main display mirror the first).
    int32_t arrange(X11DisplayConfig& config,
                    const std::vector<std::pair<uint32_t, std::pair<int32_t, int32_t>>>& places,
                    uint32_t mirrorOf = 0) {
        int32_t error = 0;
        auto tx = config.begin(error);
        if (!tx)
            return error;
        if (mirrorOf)
            tx->mirror(kX11MainDisplayId, mirrorOf);
        for (const auto& [id, at] : places)
            tx->place(id, at.first, at.second);
        int32_t result = -1;
        tx->complete([&](int32_t e) { result = e; });
        return result; // RandR answers before complete returns
    }
    // A child process mirrors a display of that descriptor onto the main one
    // and ends without giving anything back.
    void endedProcessMirrored(const VirtualDisplayDescriptor& d) {
        const pid_t child = fork();
        if (child == 0) {
            X11DisplayConfig config(power_);
            auto v = config.createVirtualDisplay(d);
            const bool ok = v && arrange(config, {{v->id(), {0, 0}}}, v->id()) == 0;
            std::fflush(nullptr);
            _exit(ok ? 0 : 1);
        }
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_EQ(status, 0);
    }
    // The output in its own mode, unscaled, on the 1280 x 800 screen.
    void expectOwnModeBack() {
        const CrtcState after = crtc();
        EXPECT_EQ(after.mode, "own");
        EXPECT_EQ(std::make_pair(after.scaleX, after.scaleY),
                  std::make_pair(XDoubleToFixed(1), XDoubleToFixed(1)));
        EXPECT_EQ(std::make_pair(after.scanWidth, after.scanHeight), std::make_pair(1280, 800));
        EXPECT_EQ(screen(), std::make_pair(1280, 800));
        EXPECT_EQ(giveBack(), std::nullopt);
    }

    X11Power power_;
};

// The display space is the screen up to its RandR maximum; a configuration
// that would reach beyond it changes nothing.
TEST_F(X11DisplayConfigTest, TheScreenLimitsTheDisplaySpace) {
    startAt1280x800(false);
    X11DisplayConfig config(power_);
    EXPECT_EQ(config.maxSpace().width, 8192);
    EXPECT_EQ(config.maxSpace().height, 4096);
    auto a = config.createVirtualDisplay(descriptor(4000, 2000));
    auto b = config.createVirtualDisplay(descriptor(4000, 2000));
    ASSERT_TRUE(a && b);
    EXPECT_NE(arrange(config, {{a->id(), {0, 0}}, {b->id(), {4300, 0}}}, a->id()), 0);
    EXPECT_EQ(screen(), std::make_pair(1280, 800));
    EXPECT_EQ(config.mirrorsDisplay(kX11MainDisplayId), 0u);
    EXPECT_EQ(arrange(config, {{a->id(), {0, 0}}, {b->id(), {4000, 0}}}, a->id()), 0);
    EXPECT_EQ(screen(), std::make_pair(8000, 2000));
    b.reset();
    a.reset();
    EXPECT_EQ(screen(), std::make_pair(1280, 800));
}

// A 2x display is its full pixel size, and programs started meanwhile find
// the resources of a 2x desktop; the ones they replaced come back after.
TEST_F(X11DisplayConfigTest, TwoTimesDisplayAtFullSizeWithTheResourcesOf2x) {
    startAt1280x800(false);
    const std::string own = "Xft.dpi:\t96\nXterm*faceName:\tMono\n";
    setResources(own);
    X11DisplayConfig config(power_);
    EXPECT_EQ(config.hiDpiScope(), corvane::platform::HiDpiScope::wholeScreen);
    auto v = config.createVirtualDisplay(descriptor(960, 600, true));
    ASSERT_TRUE(v);
    ASSERT_EQ(arrange(config, {{v->id(), {0, 0}}}, v->id()), 0);
    corvane::platform::DisplayModeInfo mode;
    ASSERT_TRUE(config.currentMode(v->id(), mode));
    EXPECT_EQ(mode.pixelWidth, 1920);
    EXPECT_EQ(mode.pointsWidth, 960);
    EXPECT_EQ(screen(), std::make_pair(1920, 1200));
    const auto db = corvane::platform::x11::readRootResources(d_).value_or("");
    EXPECT_EQ(corvane::platform::x11::resourceValue(db, "Xft.dpi"), "192");
    EXPECT_EQ(corvane::platform::x11::resourceValue(db, "Xcursor.size"), "48");
    EXPECT_EQ(corvane::platform::x11::resourceValue(db, "Xterm*faceName"), "Mono");
    v.reset();
    EXPECT_EQ(corvane::platform::x11::readRootResources(d_), own);
    EXPECT_EQ(screen(), std::make_pair(1280, 800));
}

// Mirrored on a screen whose output is on, the output shows the client's
// desktop in a mode of its size, and gets its own mode back afterwards.
TEST_F(X11DisplayConfigTest, AnActiveOutputShowsTheMirroredDisplay) {
    startAt1280x800(true);
    ASSERT_EQ(crtc().mode, "own");
    X11DisplayConfig config(power_);
    auto first = config.createVirtualDisplay(descriptor(1024, 768));
    ASSERT_TRUE(first);
    ASSERT_EQ(arrange(config, {{first->id(), {0, 0}}}, first->id()), 0);
    EXPECT_EQ(crtc().width, 1024);
    EXPECT_EQ(crtc().height, 768);
    EXPECT_EQ(screen(), std::make_pair(1024, 768));
    // A new layout: the output follows the display it now mirrors, and the
    // mode of the old size goes.
    auto second = config.createVirtualDisplay(descriptor(1600, 900));
    ASSERT_TRUE(second);
    ASSERT_EQ(arrange(config, {{second->id(), {0, 0}}, {first->id(), {1664, 0}}}, second->id()), 0);
    EXPECT_EQ(crtc().width, 1600);
    first.reset();
    EXPECT_EQ(screen(), std::make_pair(1600, 900));
    EXPECT_EQ(modesNamed("Corvane"), 1u);
    second.reset();
    EXPECT_EQ(crtc().mode, "own");
    EXPECT_EQ(screen(), std::make_pair(1280, 800));
    EXPECT_EQ(modesNamed("Corvane"), 0u);
}

// A monitor (an output with an EDID) takes only the modes it lists: a listed
// mode of the client's size shows the desktop and stays listed after. Without
// one it keeps its own mode: an X server that keeps transforms would scale it
// onto the desktop; Xvfb keeps none, so the mirroring fails and leaves the
// screen as it was (the server then shares the real screen, letterboxed:
// tests/e2e/layout). Either way it has its own mode, unscaled, once the
// display goes.
TEST_F(X11DisplayConfigTest, AMonitorShowsTheMirroredDisplayOnlyInAModeItLists) {
    startAt1280x800(true);
    ASSERT_TRUE(e2e::plugMonitor(xvfb_->name()));
    for (const bool listed : {false, true}) {
        SCOPED_TRACE(listed ? "a listed mode of the size" : "no listed mode of the size");
        if (listed) {
            xrandr({"--newmode", "listed", "60", "1024", "1025", "1026", "1027", "768", "769",
                    "770", "771"});
            xrandr({"--addmode", "screen", "listed"});
        }
        X11DisplayConfig config(power_);
        auto v = config.createVirtualDisplay(descriptor(1024, 768));
        ASSERT_TRUE(v);
        EXPECT_EQ(arrange(config, {{v->id(), {0, 0}}}, v->id()) == 0, listed);
        const CrtcState during = crtc();
        EXPECT_EQ(during.mode, listed ? "listed" : "own");
        EXPECT_EQ(during.scaleX, XDoubleToFixed(1));
        EXPECT_EQ(screen(), listed ? std::make_pair(1024, 768) : std::make_pair(1280, 800));
        EXPECT_EQ(config.mirrorsDisplay(kX11MainDisplayId) != 0, listed);
        EXPECT_EQ(monitorsNamed("Corvane Display"), listed ? 1u : 0u);
        EXPECT_EQ(giveBack().has_value(), listed);
        EXPECT_EQ(modesNamed("Corvane"), 0u);
        v.reset();
        expectOwnModeBack();
        EXPECT_EQ(modesNamed("listed"), listed ? 1u : 0u);
    }
}

// A server killed while a client was connected leaves the screen as the
// client had it; the next server on the display gives it back first.
TEST_F(X11DisplayConfigTest, WhatAnEndedProcessLeftChangedIsGivenBack) {
    startAt1280x800(true);
    setResources("Xft.dpi:\t96\n");
    ASSERT_NO_FATAL_FAILURE(endedProcessMirrored(descriptor(960, 600, true)));
    ASSERT_EQ(screen(), std::make_pair(1920, 1200));
    ASSERT_EQ(crtc().width, 1920);
    ASSERT_EQ(monitorsNamed("Corvane Display"), 1u);
    X11DisplayConfig config(power_);
    config.recover();
    corvane::platform::DisplayBounds main;
    ASSERT_TRUE(config.bounds(kX11MainDisplayId, main));
    EXPECT_EQ(main.width, 1280);
    expectOwnModeBack();
    EXPECT_EQ(monitorsNamed("Corvane Display"), 0u);
    EXPECT_EQ(modesNamed("Corvane"), 0u);
    EXPECT_EQ(corvane::platform::x11::readRootResources(d_), "Xft.dpi:\t96\n");
}

std::pair<double, double> mainSize(X11DisplayConfig& config) {
    DisplayBounds b;
    if (!config.bounds(kX11MainDisplayId, b))
        return {0, 0};
    return {b.width, b.height};
}

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

} // namespace
