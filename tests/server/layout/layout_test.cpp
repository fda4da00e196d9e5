// Layout requests and the apply step over the sim backend: the worked
// examples and the edge cases of client layouts, virtual displays,
// mirroring, sleep and the fall-backs.
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <freerdp/settings.h>

#include "capture/mac_capture.h"
#include "server/core/core_fixture.h"
#include "server/shadow/Mac/input/input.h"
#include "server/shadow/Mac/layout/layout_request.h"
#include "server/shadow/Mac/layout/main_display_watch.h"
#include "server/shadow/Mac/layout/virtual_displays.h"
#include "server/shadow/Mac/loop/thread.h"

namespace {

struct Mon {
    int32_t left, top;
    uint32_t width, height, scale = 100, device = 100;
};

class LayoutTest : public CoreTest {
  protected:
    void SetUp() override {
        CoreTest::SetUp();
        for (const char* name : {"MAC_SHADOW_MIRROR", "MAC_SHADOW_VIRTUAL", "MAC_SHADOW_SIZE_ALIGN",
                                 "MAC_SHADOW_MAX_PIXELS", "MAC_SHADOW_MAX_WIDTH"})
            unsetenv(name);
        // A Mac whose main display is 1512 x 982 points (3024 x 1964 pixels).
        setMain(3024, 1964, 2.0);
        record()->lastClientPlanValid = false;
    }
    void TearDown() override {
        mac_vdisplay_destroy_all();
        for (const char* name :
             {"MAC_SHADOW_MIRROR", "MAC_SHADOW_VIRTUAL", "MAC_SHADOW_MAX_PIXELS"})
            unsetenv(name);
        CoreTest::TearDown();
    }
    void setMain(int32_t w, int32_t h, double scale) {
        sim().simDisplays().setMain(w, h, scale);
        record()->mainPointsWidth = static_cast<int32_t>(std::lround(w / scale));
        record()->mainPointsHeight = static_cast<int32_t>(std::lround(h / scale));
    }
    corvane::platform::sim::SimDisplayConfig& displays() { return sim().simDisplayConfig(); }

    BOOL layout(const std::vector<Mon>& mons) {
        std::vector<DISPLAY_CONTROL_MONITOR_LAYOUT> l;
        for (const auto& m : mons) {
            DISPLAY_CONTROL_MONITOR_LAYOUT e = {};
            e.Left = m.left;
            e.Top = m.top;
            e.Width = m.width;
            e.Height = m.height;
            e.DesktopScaleFactor = m.scale;
            e.DeviceScaleFactor = m.device;
            l.push_back(e);
        }
        return mac_shadow_display_layout(&record()->common.base, nullptr,
                                         static_cast<UINT32>(l.size()), l.data());
    }
    // Lets the subsystem thread take and apply what waits.
    void applyPending() {
        advance(2500);
        mac_shadow_plan_handover(record(), now());
    }
    void applyLayout(const std::vector<Mon>& mons) {
        ASSERT_TRUE(layout(mons));
        applyPending();
    }
    rdpShadowClient* connecting(uint32_t w, uint32_t h, uint32_t scale = 0) {
        rdpShadowClient* c = addClient(false);
        auto* s = c->context.settings;
        freerdp_settings_set_uint32(s, FreeRDP_DesktopWidth, w);
        freerdp_settings_set_uint32(s, FreeRDP_DesktopHeight, h);
        freerdp_settings_set_uint32(s, FreeRDP_DesktopScaleFactor, scale);
        c->server = server();
        return c;
    }
    corvane::platform::DisplayBounds boundsOf(uint32_t id) {
        corvane::platform::DisplayBounds b;
        EXPECT_TRUE(displays().bounds(id, b));
        return b;
    }
};

TEST_F(LayoutTest, RequestsThatAreTheSameOrRefused) {
    const std::vector<Mon> single = {{0, 0, 1600, 1000}};
    for (int i = 1; i <= 4; ++i) {
        ASSERT_TRUE(layout(single));
        EXPECT_EQ(LogLines::count("hint: the client keeps asking for the same 1600x1000"),
                  i >= 3 ? 1u : 0u)
            << "request " << i;
    }
    EXPECT_EQ(LogLines::count("is the same as the last one: nothing to do"), 3u);
    // A different size starts counting again; a hidpi flag alone makes a
    // request differ.
    ASSERT_TRUE(layout({{0, 0, 1920, 1200}}));
    const int32_t serial = record()->resizeSerial;
    ASSERT_TRUE(layout({{0, 0, 1920, 1200, 200}}));
    EXPECT_GT(record()->resizeSerial, serial);
    EXPECT_EQ(record()->pendingPlan.hidpi[0], 1u);
    EXPECT_EQ(LogLines::count("hint:"), 1u);
    // Refusals: a monitor below 200, a desktop wider than 8192.
    EXPECT_FALSE(layout({{0, 0, 1024, 199}}));
    EXPECT_FALSE(layout({{0, 0, 5000, 1000}, {4000, 0, 5000, 1000}}));
    EXPECT_EQ(LogLines::count("requested desktop is larger than 8192, ignored"), 1u);
}

TEST_F(LayoutTest, ConnectStep) {
    struct Case {
        const char* name;
        uint32_t w, h;
        bool otherActive, publishing, alreadyApplied;
        const char* line;
        uint64_t waitedMs;
        bool pending;
    };
    const Case cases[] = {
        {"too small", 1024, 199, false, false, false, nullptr, 0, false},
        {"second viewer", 1024, 768, true, false, false,
         "is watching: keeping the current size (1280x800, the size that fits the first client)", 0,
         false},
        {"frame in flight", 1024, 768, false, true, false,
         "a frame was being sent: switching size without waiting", 0, true},
        {"waits at most 8 s", 1024, 768, false, false, false,
         "desktop is 1280x800 before activating the client", 8000, true},
        {"released when applied", 1024, 768, false, false, true,
         "desktop is 1280x800 before activating the client", 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        removeClients();
        LogLines::clear();
        record()->lastClientPlanValid = false;
        record()->resizePending = false;
        record()->appliedSerial = c.alreadyApplied ? 1000000 : 0;
        if (c.otherActive)
            addClient(true);
        record()->publishingCount = c.publishing ? 1 : 0;
        rdpShadowClient* client = connecting(c.w, c.h);
        const uint64_t before = now();
        EXPECT_TRUE(mac_shadow_client_connect(&record()->common.base, client));
        EXPECT_EQ(now() - before, c.waitedMs);
        EXPECT_EQ(record()->resizePending, c.pending);
        if (c.line) {
            EXPECT_EQ(LogLines::count(c.line), 1u);
        }
        if (c.pending && !c.publishing) {
            EXPECT_EQ(record()->resizeRequestTick, 0u);
        }
        EXPECT_EQ(record()->connectingCount.load(), 0);
        record()->publishingCount = 0;
    }
    // A client that sent no scale connects at 100 %, logged as 0.
    EXPECT_EQ(LogLines::count("client asked for 1024x768 at 0% at connect: using that size"), 1u);
    // The same size again: nothing is pending and nothing waits.
    removeClients();
    record()->resizePending = false;
    const uint64_t before = now();
    mac_shadow_client_connect(&record()->common.base, connecting(1024, 768));
    EXPECT_FALSE(record()->resizePending);
    EXPECT_EQ(now(), before);
}

// A client that starts on several monitors announces them in its core data
// and may send no layout until they change: the connect step asks for them.
TEST_F(LayoutTest, ConnectWithTheClientsMonitors) {
    struct Case {
        const char* name;
        std::vector<Mon> announced; // the first is the primary
        bool attributes;
        std::vector<std::vector<int32_t>> planned; // x, y, width, height, hidpi
        const char* used;                          // what the connect line says is used
    };
    const Case cases[] = {
        {"one announced: the core size",
         {{0, 0, 1600, 1000}},
         false,
         {{0, 0, 1024, 768, 0}},
         "client asked for 1024x768 at 0% at connect: using that size"},
        {"side by side, primary on the right",
         {{0, 0, 1920, 1080}, {-1280, 100, 1280, 1024}},
         false,
         {{1280, 0, 1920, 1080, 0}, {0, 100, 1280, 1024, 0}},
         "client asked for 1024x768 at 0% at connect: using its 2 monitors (3200x1124 in all)"},
        {"own scales",
         {{0, 0, 1920, 1080, 200}, {1920, 0, 1920, 1080, 0}},
         true,
         {{0, 0, 1920, 1080, 1}, {1920, 0, 1920, 1080, 0}},
         "client asked for 1024x768 at 0% at connect: using its 2 monitors (3840x1080 in all)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogLines::clear();
        removeClients();
        record()->lastClientPlanValid = false;
        record()->appliedSerial = 1000000; // nothing waits
        rdpShadowClient* client = connecting(1024, 768);
        auto* s = client->context.settings;
        ASSERT_TRUE(freerdp_settings_set_uint32(s, FreeRDP_MonitorCount,
                                                static_cast<uint32_t>(c.announced.size())));
        freerdp_settings_set_bool(s, FreeRDP_HasMonitorAttributes, c.attributes);
        for (size_t i = 0; i < c.announced.size(); ++i) {
            const Mon& m = c.announced[i];
            rdpMonitor def = {};
            def.x = m.left;
            def.y = m.top;
            def.width = static_cast<int32_t>(m.width);
            def.height = static_cast<int32_t>(m.height);
            def.is_primary = i == 0;
            def.attributes.desktopScaleFactor = m.scale;
            ASSERT_TRUE(freerdp_settings_set_pointer_array(s, FreeRDP_MonitorDefArray, i, &def));
        }
        EXPECT_TRUE(mac_shadow_client_connect(&record()->common.base, client));
        EXPECT_EQ(LogLines::count(c.used), 1u);
        EXPECT_EQ(LogLines::count("at connect: using"), 1u);
        EXPECT_EQ(LogLines::count("client layout #"), c.planned.size());
        const DesktopPlan& p = record()->pendingPlan;
        ASSERT_EQ(p.count, c.planned.size());
        for (uint32_t i = 0; i < p.count; ++i)
            EXPECT_EQ((std::vector<int32_t>{p.x[i], p.y[i], static_cast<int32_t>(p.width[i]),
                                            static_cast<int32_t>(p.height[i]),
                                            static_cast<int32_t>(p.hidpi[i])}),
                      c.planned[i])
                << "monitor " << i;
    }
}

TEST_F(LayoutTest, RealScreenFitWithLetterboxing) {
    setenv("MAC_SHADOW_VIRTUAL", "never", 1);
    setenv("MAC_SHADOW_MAX_PIXELS", "3000000", 1);
    applyLayout({{0, 0, 1920, 1200}});
    EXPECT_EQ(record()->desktopWidth, 1920);
    EXPECT_EQ(record()->desktopHeight, 1200);
    const MacRect r = record()->captureRect;
    EXPECT_EQ((std::vector<int32_t>{r.x, r.y, r.width, r.height}),
              (std::vector<int32_t>{36, 0, 1848, 1200}));
    EXPECT_EQ(record()->mappingCount, 1);
    EXPECT_NEAR(record()->mappings[0].pointsPerPixel, 982.0 / 1200.0, 1e-9);
    EXPECT_EQ(screenResizes(), 1);
    EXPECT_EQ(surface()->width, 1920u);
    EXPECT_EQ(record()->common.base.numMonitors, 1u);
    EXPECT_EQ(record()->common.base.virtualScreen.right, 1919);
    EXPECT_TRUE(displays().virtualDisplays().empty());
    EXPECT_EQ(LogLines::count("changing the desktop to 1920x1200 (1 monitor, the real screen)"),
              1u);
    // The same size again is dropped without touching the capture, and the
    // serial still advances.
    const size_t streams = sim().simCapture().streams().size();
    record()->lastClientPlanValid = false;
    applyLayout({{0, 0, 1920, 1200}});
    EXPECT_EQ(sim().simCapture().streams().size(), streams);
    EXPECT_EQ(record()->appliedSerial, record()->resizeSerial);
    EXPECT_EQ(screenResizes(), 1);
}

// The desktop changes size only once the clients have drawn the frames they
// were sent (their client crashes when a resize meets a frame it draws), and
// at most a quarter of a second late for a client that stops acknowledging.
TEST_F(LayoutTest, AResizeWaitsForTheFramesInFlight) {
    setenv("MAC_SHADOW_VIRTUAL", "never", 1);
    struct Case {
        const char* what;
        UINT32 inflight;
        uint64_t drainsAfterMs; // 0: never
        uint64_t resizedAfterMs;
    };
    const Case cases[] = {
        {"nothing in flight: at once", 0, 0, 0},
        {"two frames, acknowledged 40 ms later: then", 2, 40, 40},
        {"frames never acknowledged: after 250 ms", 3, 0, 250},
    };
    addClient();
    uint32_t width = 1600;
    for (const Case& c : cases) {
        const int before = screenResizes();
        record()->lastClientPlanValid = false;
        ASSERT_TRUE(layout({{0, 0, width, 1000}}));
        width += 16;
        advance(2500);
        const uint64_t start = now();
        setInflight(c.inflight, c.drainsAfterMs ? start + c.drainsAfterMs : 0);
        mac_shadow_plan_handover(record(), start);
        EXPECT_EQ(screenResizes(), before + 1) << c.what;
        EXPECT_GE(lastResizeAt() - start, c.resizedAfterMs) << c.what;
        EXPECT_LT(lastResizeAt() - start, c.resizedAfterMs + 10) << c.what;
    }
}

TEST_F(LayoutTest, TwoMonitorsMirroredExtendedAndHidpi) {
    struct Case {
        const char* name;
        const char* mirror;
        uint32_t scale;
        double secondX; // points
        double firstX;
        bool mirrored;
    };
    const Case cases[] = {
        {"mirrored", nullptr, 100, 1920, 0, true},
        {"both hidpi", nullptr, 200, 960, 0, true},
        {"extended", "0", 100, 1512 + 1920, 1512, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.mirror)
            setenv("MAC_SHADOW_MIRROR", c.mirror, 1);
        LogLines::clear();
        record()->lastClientPlanValid = false;
        applyLayout({{0, 0, 1920, 1080, c.scale}, {1920, 0, 1920, 1080, c.scale}});
        ASSERT_TRUE(record()->virtualActive);
        ASSERT_EQ(record()->virtualCount, 2);
        EXPECT_EQ(record()->desktopWidth, 3840);
        EXPECT_EQ(boundsOf(record()->virtualIds[0]).x, c.firstX);
        EXPECT_EQ(boundsOf(record()->virtualIds[1]).x, c.secondX);
        // Clicks on the second monitor land at its place on the Mac (how a
        // mapping places a click is in input_callbacks_test.cpp).
        const DisplayMapping& m = record()->mappings[1];
        EXPECT_EQ(
            (std::vector<double>{double(m.x), double(m.y), double(m.width), double(m.height),
                                 m.macX, m.macY, m.pointsPerPixel}),
            (std::vector<double>{1920, 0, 1920, 1080, c.secondX, 0, c.scale == 200 ? 0.5 : 1.0}));
        EXPECT_EQ(displays().mirrorsDisplay(1) != 0, c.mirrored);
        EXPECT_EQ(LogLines::count("now mirrors the remote desktop (1920x1080"),
                  c.mirrored ? 1u : 0u);
        EXPECT_EQ(LogLines::count("mirror"), c.mirrored ? 1u : 0u);
        EXPECT_EQ(record()->common.base.numMonitors, 2u);
        EXPECT_EQ(record()->common.base.monitors[1].left, 1920);
        EXPECT_EQ(surface()->width, 3840u);
        mac_shadow_destroy_virtual(record());
        EXPECT_TRUE(displays().virtualDisplays().empty());
        EXPECT_EQ(displays().mirrorsDisplay(1), 0u);
        EXPECT_EQ(LogLines::count("no longer mirrors the remote desktop"), c.mirrored ? 1u : 0u);
        unsetenv("MAC_SHADOW_MIRROR");
    }
}

TEST_F(LayoutTest, DisplayDescriptors) {
    applyLayout({{0, 0, 1920, 1080},
                 {1920, 0, 1920, 1080},
                 {0, 1080, 1920, 1080},
                 {1920, 1080, 1920, 1080}});
    const auto d = displays().descriptors();
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0].name, "Corvane Display 1");
    EXPECT_EQ(d[3].name, "Corvane Display 4");
    const uint32_t toggle = static_cast<uint32_t>(record()->createToggle) & 1;
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(d[i].vendorId, 0x4356u);
        EXPECT_EQ(d[i].productId, 256 + i + 128 * toggle);
    }
    // The pixel budget of four 1920 x 1080 monitors is not exceeded.
    EXPECT_EQ(d[1].serialNumber, (1u << 28) + (1920u << 12) + 540u);
    EXPECT_NEAR(d[0].widthMillimetres, 1920 * 25.4 / 110, 1e-9);
    EXPECT_FALSE(d[0].hiDPI);
    // The next round uses the other product numbers.
    record()->lastClientPlanValid = false;
    applyLayout({{0, 0, 1600, 1200}});
    const auto again = displays().descriptors();
    EXPECT_EQ(again.back().productId, 256 + 128 * (toggle ^ 1));
    EXPECT_EQ(again.back().serialNumber, (1600u << 12) + 600u);
}

TEST_F(LayoutTest, FaultsOfTheDisplayServer) {
    struct Case {
        const char* name;
        std::function<void(corvane::platform::sim::SimDisplayConfig&)> fault;
        std::vector<Mon> mons;
        bool virtualActive;
        std::vector<std::pair<std::string, size_t>> lines;
    };
    const std::vector<Mon> one = {{0, 0, 1024, 768}},
                           two = {{0, 0, 1024, 768}, {1024, 0, 1024, 768}};
    const Case cases[] = {
        {"creation fails",
         [](auto& d) { d.failCreationsFrom(2); },
         {{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}},
         false,
         {{"could not create virtual display 1 (1920x1080)", 1},
          {"falling back to the real screen (one monitor)", 1}}},
        {"2x refused",
         [](auto& d) { d.setRefuse2x(true); },
         {{0, 0, 3024, 1964, 200}},
         true,
         {{"reports 893x580 pixels, 893x580 points (wanted 1786x1160 at 2x)", 1},
          {"macOS did not apply the 2x mode to virtual display 0 (1786x1160)", 1}}},
        {"another size",
         [](auto& d) { d.setNextPixelSize(1000, 700); },
         one,
         true,
         {{"virtual display 0 came up as 1000x700 pixels instead of 1024x768", 1}}},
        {"mirroring dropped twice",
         [](auto& d) { d.dropMirroring(2); },
         one,
         true,
         {{"macOS dropped the mirroring after the resize: setting it up again", 2},
          {"may not mirror", 0}}},
        {"mirroring always dropped",
         [](auto& d) { d.dropMirroring(100); },
         one,
         true,
         {{"macOS dropped the mirroring after the resize: setting it up again", 3},
          {"the Mac's displays may not mirror the remote desktop (macOS keeps dropping it)", 1}}},
        {"transactions fail",
         [](auto& d) { d.failCompletes(3); },
         one,
         true,
         {{"arranging the virtual displays failed (CGError 1000)", 3},
          {"the virtual displays are not arranged as asked yet, trying again", 2},
          {"could not mirror the Mac's displays; the remote desktop is an extra screen", 1}}},
        // mutter: asking would only wait out the rounds at every connect.
        {"a display server that places them itself",
         [](auto& d) { d.setPlacesItself(true); },
         two,
         true,
         {{"arranging the virtual displays failed", 0},
          {"not arranged as asked", 0},
          {"could not mirror the Mac's displays; the remote desktop is an extra screen", 1}}},
        {"placement ignored once",
         [](auto& d) { d.ignorePlacements(1); },
         two,
         true,
         {{"the virtual displays are not arranged as asked yet, trying again", 1}}},
        // A compositor that never answers costs the limit, not the server.
        {"no answer",
         [](auto& d) { d.holdCompletions(true); },
         one,
         false,
         {{"could not create virtual display 0 (1024x768)", 1},
          {"falling back to the real screen (one monitor)", 1}}},
        // As on X11: a display never placed is not there to capture.
        {"never placed",
         [](auto& d) {
             d.showOnlyPlaced(true);
             d.failCompletes(3);
         },
         one,
         false,
         {{"virtual display 0 (id", 1},
          {"is not there to capture: macOS did not place it", 1},
          {"falling back to the real screen (one monitor)", 1},
          {"could not mirror the Mac's displays", 1},
          {"the remote desktop is an extra screen", 0},
          {"could not restart the capture", 0}}},
    };
    // A 2x monitor of the Mac's own shape would otherwise share the real screen.
    setenv("MAC_SHADOW_VIRTUAL", "always", 1);
    // The real screen can be captured when the desktop falls back to it.
    sim().simCapture().setDisplays({{1, 0, 0, 1512, 982}}, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mac_shadow_destroy_virtual(record());
        LogLines::clear();
        record()->lastClientPlanValid = false;
        c.fault(displays());
        applyLayout(c.mons);
        for (const auto& [line, n] : c.lines)
            EXPECT_EQ(LogLines::count(line), n) << line;
        EXPECT_EQ(record()->virtualActive, c.virtualActive);
        EXPECT_EQ(displays().virtualDisplays().size(), c.virtualActive ? c.mons.size() : 0u);
        EXPECT_EQ(record()->appliedSerial, record()->resizeSerial);
        EXPECT_FALSE(record()->captureDown);
        // An answer after the wait gave up leaves nothing behind.
        displays().holdCompletions(false);
        displays().releaseHeld();
        EXPECT_EQ(displays().virtualDisplays().size(), c.virtualActive ? c.mons.size() : 0u);
        displays().failCreationsFrom(0);
        displays().setRefuse2x(false);
        displays().dropMirroring(0);
        displays().showOnlyPlaced(false);
        displays().setPlacesItself(false);
    }
    // The display whose 2x mode was refused stands as 1x in the plan.
    EXPECT_EQ(LogLines::count("virtual display 0: id"), 1u);
}

TEST_F(LayoutTest, PlanWaitsWhileTheScreenSleeps) {
    applyLayout({{0, 0, 1024, 768}});
    ASSERT_TRUE(record()->virtualActive);
    const int32_t applied = record()->appliedSerial;
    sim().simPower().setAsleep(true);
    sim().simPower().setWakeAfter(-1);
    record()->lastClientPlanValid = false;
    applyLayout({{0, 0, 1600, 900}});
    applyPending();
    EXPECT_EQ(LogLines::count("the Mac's screen is asleep: keeping the virtual displays until it "
                              "is on (changing to 1600x900 then)"),
              1u);
    EXPECT_EQ(record()->appliedSerial, applied);
    EXPECT_TRUE(record()->resizePending);
    EXPECT_EQ(record()->desktopWidth, 1024);
    sim().simPower().setAsleep(false);
    advance(10000);
    mac_shadow_plan_handover(record(), now());
    EXPECT_EQ(record()->desktopWidth, 1600);
    EXPECT_EQ(record()->appliedSerial, record()->resizeSerial);
}

TEST_F(LayoutTest, OutsideChangeOfTheMainDisplayIsFollowed) {
    setMain(1280, 800, 1.0);
    mac_shadow_watch_main_display();
    displays().changeMainFromOutside(1024, 768, 1.0);
    mac_shadow_plan_handover(record(), now() + 300);
    EXPECT_EQ(record()->desktopWidth, 1024);
    EXPECT_EQ(record()->desktopHeight, 768);
    EXPECT_EQ(record()->mainPointsWidth, 1024);
    EXPECT_EQ(record()->initialWidth, 1024);
    // A client still showing 1280 x 800 scales its clicks to the desktop.
    sim().simEvents().clear();
    mac_shadow_input_mouse_event(&record()->common.base, addClient(true), 0x0800, 960, 720);
    ASSERT_EQ(sim().simEvents().posted().size(), 1u);
    EXPECT_EQ(sim().simEvents().posted()[0].at.x, 960);
    EXPECT_EQ(sim().simEvents().posted()[0].at.y, 720);
    corvane::platform::current().displayConfig().setScreenChangeHandler({});
}

// The old displays wait beside the new ones while the host mirrors them; a
// display space with a maximum size (as an X screen has) must hold both, and
// where it cannot, the old ones go first.
TEST_F(LayoutTest, ReLayoutOfAMirroredDesktopStaysWithinTheDisplaySpace) {
    struct Case {
        const char* name;
        std::vector<Mon> before, after;
        size_t removedFirst;
        int32_t width;
    };
    const Case cases[] = {
        {"two monitors, the first narrower",
         {{0, 0, 1920, 1080}, {1920, 0, 1920, 1080}},
         {{0, 0, 1800, 1080}, {1800, 0, 1920, 1080}},
         0,
         3720},
        {"one wide monitor: the old one waits below",
         {{0, 0, 4200, 2000}},
         {{0, 0, 4300, 2000}},
         0,
         4300},
        {"no room beside or below: the old one goes first",
         {{0, 0, 4200, 2100}},
         {{0, 0, 4300, 2100}},
         1,
         4300},
    };
    setenv("MAC_SHADOW_MAX_PIXELS", "20000000", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mac_shadow_destroy_virtual(record());
        record()->lastClientPlanValid = false;
        applyLayout(c.before);
        ASSERT_TRUE(record()->virtualActive);
        ASSERT_NE(displays().mirrorsDisplay(1), 0u);
        LogLines::clear();
        applyLayout(c.after);
        EXPECT_EQ(LogLines::count("arranging the virtual displays failed"), 0u);
        EXPECT_EQ(LogLines::count("not arranged as asked"), 0u);
        EXPECT_EQ(LogLines::count("no room for the old virtual displays beside the new ones in a "
                                  "8192x4096 display space: removing them first"),
                  c.removedFirst);
        ASSERT_TRUE(record()->virtualActive);
        EXPECT_FALSE(record()->captureDown);
        EXPECT_EQ(record()->desktopWidth, c.width);
        EXPECT_EQ(displays().virtualDisplays().size(), c.after.size());
        EXPECT_EQ(displays().mirrorsDisplay(1), record()->virtualIds[0]);
        for (size_t i = 0; i < c.after.size(); ++i)
            EXPECT_EQ(boundsOf(record()->virtualIds[i]).x, c.after[i].left) << "monitor " << i;
    }
}

// Two clients: the one that came second, and while it watches also the
// first, leave the desktop at the size that fits the first; the log names
// the client that holds it.
TEST_F(LayoutTest, WhileTwoClientsWatchTheDesktopKeepsItsSize) {
    applyLayout({{0, 0, 1024, 768}});
    rdpShadowClient* first = addClient(true);
    first->server = server();
    freerdp_settings_set_string(first->context.settings, FreeRDP_ClientHostname, "first-pc");
    rdpShadowClient* second = connecting(1600, 900);
    freerdp_settings_set_string(second->context.settings, FreeRDP_ClientHostname, "second\npc");
    const int32_t serial = record()->resizeSerial;
    EXPECT_TRUE(mac_shadow_client_connect(&record()->common.base, second));
    second->activated = TRUE;
    const DISPLAY_CONTROL_MONITOR_LAYOUT wide = {1, 0, 0, 1600, 900, 0, 0, 0, 100, 100};
    EXPECT_TRUE(mac_shadow_display_layout(&record()->common.base, second, 1, &wide));
    EXPECT_TRUE(mac_shadow_display_layout(&record()->common.base, first, 1, &wide));
    EXPECT_EQ(record()->resizeSerial, serial);
    applyPending();
    EXPECT_EQ(record()->desktopWidth, 1024);
    EXPECT_EQ(LogLines::count("client asked for 1600x900, but \"first-pc\" is watching: keeping "
                              "the current size (1024x768, the size that fits the first client)"),
              1u);
    EXPECT_EQ(LogLines::count("of \"second?pc\" ignored: \"first-pc\" is watching too, and while "
                              "two clients watch the desktop keeps its size (1024x768"),
              1u);
    EXPECT_EQ(LogLines::count("of \"first-pc\" ignored: \"second?pc\" is watching too"), 1u);
}

// Where one scale serves the whole screen (X11), 2x is a property of the
// whole desktop: a 2x display keeps its full pixel size without a failed
// attempt, at any size, and a desktop only partly 2x runs at 1x.
TEST_F(LayoutTest, HidpiWhereOneScaleServesTheWholeScreen) {
    struct Case {
        const char* name;
        std::vector<Mon> mons;
        bool at2x;
        const char* line;
        const char* virtualMode = "always";
    };
    const Case cases[] = {
        {"one small 2x monitor",
         {{0, 0, 1440, 900, 200}},
         true,
         "HiDPI: the 1440x900 desktop runs at 2x: every display draws at 2x"},
        {"two 2x monitors",
         {{0, 0, 1920, 1080, 200}, {1920, 0, 1920, 1080, 200}},
         true,
         "HiDPI: the 3840x1080 desktop runs at 2x"},
        {"one of two at 2x",
         {{0, 0, 1920, 1080, 200}, {1920, 0, 1920, 1080, 100}},
         false,
         "HiDPI: macOS has one scale for the whole desktop and not every monitor asks for 2x: "
         "the 3840x1080 desktop runs at 1x"},
        {"the real screen",
         {{0, 0, 1600, 1000, 200}},
         false,
         "HiDPI: the real screen is shared at its own scale, fitted into 1600x1000",
         "never"},
    };
    displays().setHiDpiScope(corvane::platform::HiDpiScope::wholeScreen);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setenv("MAC_SHADOW_VIRTUAL", c.virtualMode, 1);
        mac_shadow_destroy_virtual(record());
        LogLines::clear();
        record()->lastClientPlanValid = false;
        const size_t made = displays().descriptors().size();
        applyLayout(c.mons);
        EXPECT_EQ(LogLines::count(c.line), 1u);
        EXPECT_EQ(LogLines::count("HiDPI:"), 1u);
        EXPECT_EQ(LogLines::count("did not apply"), 0u);
        EXPECT_EQ(LogLines::count("HiDPI not possible"), 0u);
        const auto d = displays().descriptors();
        const size_t virtualCount = record()->virtualActive ? c.mons.size() : 0;
        ASSERT_EQ(d.size(), made + virtualCount);
        double x = 0;
        for (size_t i = 0; i < virtualCount; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(d[made + i].hiDPI, c.at2x);
            EXPECT_EQ(record()->currentPlan.hidpi[i] != 0, c.at2x);
            // The display space counts pixels: a click maps one to one.
            EXPECT_EQ(record()->mappings[i].pointsPerPixel, 1.0);
            const auto b = boundsOf(record()->virtualIds[i]);
            EXPECT_EQ(b.x, x);
            EXPECT_EQ(b.width, c.mons[i].width);
            x += c.mons[i].width;
        }
    }
}

// A virtual display the display server lost is not looked for again and
// again: the desktop goes back to the real screen.
TEST_F(LayoutTest, AVanishedDisplayIsNotCapturedAgainAndAgain) {
    sim().simCapture().setDisplays({{1, 0, 0, 1512, 982}}, 1);
    addClient(); // someone watches: the desktop session is open
    applyLayout({{0, 0, 1024, 768}});
    ASSERT_TRUE(record()->virtualActive);
    ASSERT_FALSE(record()->captureDown);
    sim().simCapture().setExtraDisplays({});
    EXPECT_FALSE(mac_shadow_restart_capture(record()));
    EXPECT_EQ(LogLines::count("is gone: the desktop goes back to the real screen"), 1u);
    applyPending();
    EXPECT_FALSE(record()->virtualActive);
    EXPECT_FALSE(record()->captureDown);
    EXPECT_EQ(record()->desktopWidth, 1024);
    EXPECT_TRUE(displays().virtualDisplays().empty());
}

} // namespace
