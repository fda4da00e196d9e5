// Client layout requests: a connecting client's size and the monitor layouts
// of the display-control channel become desktop plans that the subsystem
// thread applies.
#include "layout_request.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include <winpr/collections.h>

#include <freerdp/settings.h>

#include "base/clock.h"
#include "base/env.h"
#include "base/log.h"
#include "core/desktop_session.h"
#include "core/section_lock.h"
#include "loop/power.h"
#include "loop/stats_file.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kConnectWaitStepMs = 50;
constexpr int kConnectWaitSteps = 160; // 8 s

bool hidpiWish(uint32_t desktopScale, uint32_t deviceScale) {
    return mac_logic_hidpi_wish(desktopScale, deviceScale) != 0;
}

const corvane::platform::HostTerms& terms() {
    return corvane::platform::current().terms();
}

bool oneScaleForAll() {
    return corvane::platform::current().displayConfig().hiDpiScope() ==
           corvane::platform::HiDpiScope::wholeScreen;
}

uint32_t hidpiMonitors(const DesktopPlan& plan) {
    uint32_t n = 0;
    for (uint32_t i = 0; i < plan.count; ++i)
        n += plan.hidpi[i] ? 1 : 0;
    return n;
}

// The client as a log line names it: the computer name it sent (made
// printable) and its address.
std::string clientName(const rdpShadowClient* c) {
    char name[64] = "";
    const rdpSettings* s = c->context.settings;
    const char* sent = s ? freerdp_settings_get_string(s, FreeRDP_ClientHostname) : nullptr;
    size_t n = 0;
    for (const char* p = sent ? sent : ""; *p && n + 1 < sizeof name; ++p, ++n) {
        const auto byte = static_cast<unsigned char>(*p);
        name[n] = byte < 0x20 || byte == 0x7f ? '?' : *p;
    }
    name[n] = '\0';
    const freerdp_peer* peer = c->context.peer;
    char address[sizeof(peer->hostname) + 1] = "";
    if (peer)
        std::snprintf(address, sizeof address, "%.*s", static_cast<int>(sizeof(peer->hostname)),
                      peer->hostname);
    if (*name && *address)
        return std::string("\"") + name + "\" at " + address;
    if (*name)
        return std::string("\"") + name + "\"";
    return *address ? std::string("the client at ") + address : std::string("a client");
}

// The activated clients other than this one, named.
struct OtherClients {
    size_t count = 0;
    std::string names;
    const char* verb() const { return count == 1 ? "is" : "are"; }
};

void logLayout(int32_t counter, uint32_t n, const DISPLAY_CONTROL_MONITOR_LAYOUT* monitors) {
    for (uint32_t i = 0; i < n; ++i) {
        const DISPLAY_CONTROL_MONITOR_LAYOUT& m = monitors[i];
        MAC_LOG_FN(
            WLOG_INFO, "mac_shadow_display_layout",
            "client layout #%d: monitor %u of %u at %d,%d %ux%u, scale %u%% (device "
            "%u%%)%s%s",
            counter, i, n, m.Left, m.Top, m.Width, m.Height, m.DesktopScaleFactor,
            m.DeviceScaleFactor, (m.Flags & DISPLAY_CONTROL_MONITOR_PRIMARY) ? ", primary" : "",
            hidpiWish(m.DesktopScaleFactor, m.DeviceScaleFactor) ? " -> HiDPI (2x) wanted" : "");
    }
}

// Whether this layout is the third same one-monitor size in a row.
bool thirdSameSize(macShadowSubsystem* r, uint32_t n, const DISPLAY_CONTROL_MONITOR_LAYOUT* m) {
    SectionLock lock(r->subsystemLock);
    if (n != 1) {
        r->lastSingleWidth = r->lastSingleHeight = 0;
        r->sameSingleCount = 1;
        return false;
    }
    const auto w = static_cast<int32_t>(m[0].Width);
    const auto h = static_cast<int32_t>(m[0].Height);
    if (w == r->lastSingleWidth && h == r->lastSingleHeight)
        return ++r->sameSingleCount == 3;
    r->lastSingleWidth = w;
    r->lastSingleHeight = h;
    r->sameSingleCount = 1;
    return false;
}

// The hint for clients whose resolution is pinned: the same one-monitor
// size three times in a row.
void pinnedSizeHint(macShadowSubsystem* r, uint32_t n, const DISPLAY_CONTROL_MONITOR_LAYOUT* m) {
    if (thirdSameSize(r, n, m))
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                   "hint: the client keeps asking for the same %ux%u and never its window "
                   "size. If the picture is cut off or scaled, its Resolution is pinned: in "
                   "the Windows App, edit the PC > Display and turn on \"Update the session "
                   "resolution on resize\" (or \"Fit session to window\")",
                   m[0].Width, m[0].Height);
}

// Stage A and B: the plan as the client asked for it, aligned. -1 = refused.
int buildRequestedPlan(uint32_t n, const DISPLAY_CONTROL_MONITOR_LAYOUT* m, DesktopPlan& plan) {
    int32_t lefts[16], tops[16];
    uint32_t widths[16], heights[16], scales[16], devices[16];
    for (uint32_t i = 0; i < n; ++i) {
        lefts[i] = m[i].Left;
        tops[i] = m[i].Top;
        widths[i] = m[i].Width;
        heights[i] = m[i].Height;
        scales[i] = m[i].DesktopScaleFactor;
        devices[i] = m[i].DeviceScaleFactor;
    }
    const int32_t built =
        mac_logic_build_plan_scaled(n, lefts, tops, widths, heights, scales, devices, &plan);
    if (built == MAC_PLAN_TOO_LARGE)
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_display_layout",
                   "requested desktop is larger than %d, ignored", MAC_PLAN_MAX_SIZE);
    if (built != MAC_PLAN_OK)
        return -1;
    const int32_t alignment =
        static_cast<int32_t>(mac_env::leadingInt(mac_env::raw("MAC_SHADOW_SIZE_ALIGN")));
    if (mac_logic_plan_align(&plan, alignment))
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                   "desktop sizes rounded down to multiples of %d: %dx%d", alignment,
                   plan.totalWidth, plan.totalHeight);
    const uint32_t hidpi = hidpiMonitors(plan);
    uint32_t pw = 0, ph = 0;
    if (oneScaleForAll() && hidpi > 0 && hidpi < plan.count) {
        for (uint32_t i = 0; i < plan.count; ++i)
            plan.hidpi[i] = 0;
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                   "HiDPI: %s has one scale for the whole desktop and not every monitor asks for "
                   "2x: the %dx%d desktop runs at 1x",
                   terms().system, plan.totalWidth, plan.totalHeight);
    } else if (!oneScaleForAll() && mac_logic_plan_points(&plan, &pw, &ph)) {
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                   "HiDPI: the %dx%d desktop will be %dx%d points on %s (1 remote pixel = 1 "
                   "physical pixel, text and windows at the size the client's screen is used to)",
                   plan.totalWidth, plan.totalHeight, pw, ph, terms().computer);
    }
    return 0;
}

// Stages C-F: the limits of this server and the choice of virtual displays.
void limitPlan(macShadowSubsystem* r, DesktopPlan& plan) {
    const uint32_t oldW = plan.totalWidth, oldH = plan.totalHeight;
    if (mac_logic_plan_budget(&plan, mac_env::leadingDouble(mac_env::raw("MAC_SHADOW_MAX_PIXELS"))))
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                   "desktop %dx%d is above the size limit, scaled to %dx%d", oldW, oldH,
                   plan.totalWidth, plan.totalHeight);
    const uint32_t midW = plan.totalWidth, midH = plan.totalHeight;
    const auto maxWidth =
        static_cast<int32_t>(mac_env::leadingInt(mac_env::raw("MAC_SHADOW_MAX_WIDTH")));
    if (mac_logic_plan_width_limit(&plan, maxWidth))
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                   "desktop %dx%d is wider than MAC_SHADOW_MAX_WIDTH, scaled to %dx%d", midW, midH,
                   plan.totalWidth, plan.totalHeight);
    // The smallest 2x mode is a limit of per-display scales; one scale for
    // the whole desktop has none.
    if (!oneScaleForAll() && mac_logic_plan_hidpi_minimum(&plan) > 0)
        MAC_LOG_FN(WLOG_WARN, "mac_shadow_display_layout",
                   "HiDPI not possible for a monitor under %dx%d pixels (%s applies no 2x "
                   "mode): it stays 1x, the client shows it at half size. Make the window bigger "
                   "or turn off \"Optimize for Retina displays\"",
                   MAC_PLAN_HIDPI_MIN_WIDTH, MAC_PLAN_HIDPI_MIN_HEIGHT, terms().system);
    int32_t pointsWidth = 0, pointsHeight = 0;
    {
        SectionLock lock(r->subsystemLock);
        pointsWidth = r->mainPointsWidth;
        pointsHeight = r->mainPointsHeight;
    }
    mac_logic_plan_choose_virtual(&plan, mac_logic_virtual_mode(mac_env::raw("MAC_SHADOW_VIRTUAL")),
                                  pointsWidth, pointsHeight);
    // With one scale for everything shown, 2x is the whole desktop's: said
    // once its size and kind are known.
    if (oneScaleForAll() && hidpiMonitors(plan) > 0) {
        if (plan.useVirtual)
            MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                       "HiDPI: the %dx%d desktop runs at 2x: %s (1 remote pixel = 1 pixel of the "
                       "desktop)",
                       plan.totalWidth, plan.totalHeight, terms().drawnAt2x);
        else
            MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                       "HiDPI: the real screen is shared at its own scale, fitted into %dx%d",
                       plan.totalWidth, plan.totalHeight);
    }
}

void logClientCore(const rdpSettings* s) {
    const uint32_t scale = freerdp_settings_get_uint32(s, FreeRDP_DesktopScaleFactor);
    const uint32_t device = freerdp_settings_get_uint32(s, FreeRDP_DeviceScaleFactor);
    const uint32_t major = freerdp_settings_get_uint32(s, FreeRDP_OsMajorType);
    MAC_LOG_FN(WLOG_INFO, "mac_shadow_log_client_core",
               "client connect: core %ux%u scale %u%% device %u%% (%s) phys %ux%u mm orient %u "
               "early 0x%04x monitors %u (TS_UD_CS_MONITOR) supportsMonitorLayoutPdu %s os %u/%u "
               "(%s) build %u",
               freerdp_settings_get_uint32(s, FreeRDP_DesktopWidth),
               freerdp_settings_get_uint32(s, FreeRDP_DesktopHeight), scale, device,
               hidpiWish(scale, device) ? "HiDPI 2x wanted" : "1x",
               freerdp_settings_get_uint32(s, FreeRDP_DesktopPhysicalWidth),
               freerdp_settings_get_uint32(s, FreeRDP_DesktopPhysicalHeight),
               static_cast<unsigned>(freerdp_settings_get_uint16(s, FreeRDP_DesktopOrientation)),
               freerdp_settings_get_uint32(s, FreeRDP_EarlyCapabilityFlags),
               freerdp_settings_get_uint32(s, FreeRDP_MonitorCount),
               freerdp_settings_get_bool(s, FreeRDP_SupportMonitorLayoutPdu) ? "yes" : "no", major,
               freerdp_settings_get_uint32(s, FreeRDP_OsMinorType), mac_shadow_os_name(major),
               freerdp_settings_get_uint32(s, FreeRDP_ClientBuild));
}

OtherClients otherActivatedClients(rdpShadowServer* server, const rdpShadowClient* client) {
    OtherClients others;
    if (!server || !server->clients)
        return others;
    ArrayList_Lock(server->clients);
    for (size_t i = 0; i < ArrayList_Count(server->clients); ++i) {
        auto* c = static_cast<rdpShadowClient*>(ArrayList_GetItem(server->clients, i));
        if (!c || c == client || !c->activated)
            continue;
        others.names += (others.count++ ? ", " : "") + clientName(c);
    }
    ArrayList_Unlock(server->clients);
    return others;
}

int32_t desktopWidth(const macShadowSubsystem* r) {
    return __atomic_load_n(&r->desktopWidth, __ATOMIC_ACQUIRE);
}
int32_t desktopHeight(const macShadowSubsystem* r) {
    return __atomic_load_n(&r->desktopHeight, __ATOMIC_ACQUIRE);
}

// The bounding box of a layout whose monitors start at 0,0.
void layoutExtent(uint32_t n, const DISPLAY_CONTROL_MONITOR_LAYOUT* m, int64_t& w, int64_t& h) {
    w = h = 0;
    for (uint32_t i = 0; i < n; ++i) {
        w = std::max<int64_t>(w, int64_t{m[i].Left} + m[i].Width);
        h = std::max<int64_t>(h, int64_t{m[i].Top} + m[i].Height);
    }
}

// Waits (without a lock) until the plan of `serial` is applied, at most 8 s.
void waitForApplied(macShadowSubsystem* r, int32_t serial) {
    for (int i = 0; i < kConnectWaitSteps; ++i) {
        if (__atomic_load_n(&r->appliedSerial, __ATOMIC_ACQUIRE) >= serial)
            break;
        mac_sleep_ms(kConnectWaitStepMs);
    }
    MAC_LOG_FN(WLOG_INFO, "mac_shadow_client_connect",
               "desktop is %dx%d before activating the client", desktopWidth(r), desktopHeight(r));
}

// The monitors the client announced in its core data (TS_UD_CS_MONITOR),
// placed relative to the top-left corner of all of them, with their own
// scales where the client sent them (TS_UD_CS_MONITOR_EX) and its overall
// ones otherwise. 0 when it announced fewer than two. A client that starts
// on several monitors often sends no display-control layout until they
// change, so without this its desktop would be one monitor of its overall
// size until then.
uint32_t announcedMonitors(const rdpSettings* s, uint32_t scale, uint32_t device,
                           DISPLAY_CONTROL_MONITOR_LAYOUT (&out)[MAC_PLAN_MAX_MONITORS]) {
    uint32_t n = freerdp_settings_get_uint32(s, FreeRDP_MonitorCount);
    if (n < 2)
        return 0;
    n = std::min<uint32_t>(n, MAC_PLAN_MAX_MONITORS);
    const rdpMonitor* mons[MAC_PLAN_MAX_MONITORS] = {};
    int32_t left = INT32_MAX, top = INT32_MAX;
    for (uint32_t i = 0; i < n; ++i) {
        mons[i] = static_cast<const rdpMonitor*>(
            freerdp_settings_get_pointer_array(s, FreeRDP_MonitorDefArray, i));
        if (!mons[i])
            return 0;
        left = std::min(left, mons[i]->x);
        top = std::min(top, mons[i]->y);
    }
    const bool attributes = freerdp_settings_get_bool(s, FreeRDP_HasMonitorAttributes);
    for (uint32_t i = 0; i < n; ++i) {
        const rdpMonitor& m = *mons[i];
        DISPLAY_CONTROL_MONITOR_LAYOUT& l = out[i];
        l = {};
        l.Flags = m.is_primary ? DISPLAY_CONTROL_MONITOR_PRIMARY : 0;
        // 64-bit: far-apart monitors are refused by the plan, not wrapped.
        l.Left = static_cast<int32_t>(std::min<int64_t>(int64_t{m.x} - left, INT32_MAX));
        l.Top = static_cast<int32_t>(std::min<int64_t>(int64_t{m.y} - top, INT32_MAX));
        l.Width = m.width > 0 ? static_cast<uint32_t>(m.width) : 0;
        l.Height = m.height > 0 ? static_cast<uint32_t>(m.height) : 0;
        const uint32_t ownScale = attributes ? m.attributes.desktopScaleFactor : 0;
        const uint32_t ownDevice = attributes ? m.attributes.deviceScaleFactor : 0;
        l.DesktopScaleFactor = ownScale ? ownScale : scale;
        l.DeviceScaleFactor = ownDevice ? ownDevice : device;
        if (attributes) {
            l.PhysicalWidth = m.attributes.physicalWidth;
            l.PhysicalHeight = m.attributes.physicalHeight;
            l.Orientation = m.attributes.orientation;
        }
    }
    return n;
}

} // namespace

extern "C" BOOL mac_shadow_display_layout(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                                          UINT32 count,
                                          const DISPLAY_CONTROL_MONITOR_LAYOUT* monitors) {
    if (count == 0 || !subsystem || !monitors)
        return FALSE;
    auto* r = reinterpret_cast<macShadowSubsystem*>(subsystem);
    const uint32_t n = count < MAC_PLAN_MAX_MONITORS ? count : MAC_PLAN_MAX_MONITORS;
    const int32_t counter = ++r->layoutCounter;
    logLayout(counter, n, monitors);
    // Like the connect step: while others watch, one viewer's window does
    // not reshape their desktop.
    if (client) {
        if (const OtherClients others = otherActivatedClients(client->server, client);
            others.count > 0) {
            MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                       "client layout #%d of %s ignored: %s %s watching too, and while two "
                       "clients watch the desktop keeps its size (%dx%d, the size that fits "
                       "the first client)",
                       counter, clientName(client).c_str(), others.names.c_str(), others.verb(),
                       desktopWidth(r), desktopHeight(r));
            return TRUE;
        }
    }
    pinnedSizeHint(r, n, monitors);

    DesktopPlan plan = {};
    if (buildRequestedPlan(n, monitors, plan) != 0)
        return FALSE;

    bool same = false;
    {
        SectionLock lock(r->subsystemLock);
        same = r->lastClientPlanValid && mac_logic_plan_same(&r->lastClientPlan, &plan);
        r->lastClientPlan = plan;
        r->lastClientPlanValid = true;
    }
    if (same) {
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_display_layout",
                   "client layout #%d is the same as the last one: nothing to do", counter);
        return TRUE;
    }

    limitPlan(r, plan);
    mac_shadow_hand_over_plan(r, plan, mac_now_ms());
    return TRUE;
}

void mac_shadow_hand_over_plan(macShadowSubsystem* r, const DesktopPlan& plan,
                               uint64_t requestTick) {
    SectionLock lock(r->subsystemLock);
    r->pendingPlan = plan;
    r->resizeRequestTick = requestTick;
    r->resizeSerial = __atomic_add_fetch(&r->resizeSerialCounter, 1, __ATOMIC_ACQ_REL);
    r->resizePending = true;
}

extern "C" BOOL mac_shadow_client_connect(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    if (!mac_shadow_client_connect_session(subsystem, client))
        return FALSE;
    mac_shadow_client_connect_size(subsystem, client);
    return TRUE;
}

extern "C" BOOL mac_shadow_client_connect_session(rdpShadowSubsystem* subsystem,
                                                  rdpShadowClient* client) {
    if (!subsystem || !client || !client->context.settings)
        return TRUE;
    auto* r = reinterpret_cast<macShadowSubsystem*>(subsystem);
    // The session comes before anything of the desktop: its size, its streams.
    if (!mac_shadow_session_need(r))
        return FALSE;
    if (r->viewOnly.load())
        client->mayInteract = FALSE;
    logClientCore(client->context.settings);
    return TRUE;
}

extern "C" void mac_shadow_client_connect_size(rdpShadowSubsystem* subsystem,
                                               rdpShadowClient* client) {
    if (!subsystem || !client || !client->context.settings)
        return;
    auto* r = reinterpret_cast<macShadowSubsystem*>(subsystem);
    const rdpSettings* s = client->context.settings;
    const uint32_t width = freerdp_settings_get_uint32(s, FreeRDP_DesktopWidth);
    const uint32_t height = freerdp_settings_get_uint32(s, FreeRDP_DesktopHeight);
    if (width < MAC_PLAN_MIN_SIZE || height < MAC_PLAN_MIN_SIZE)
        return;
    if (const OtherClients others = otherActivatedClients(client->server, client);
        others.count > 0) {
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_client_connect",
                   "client asked for %ux%u, but %s %s watching: keeping the current size "
                   "(%dx%d, the size that fits the first client)",
                   width, height, others.names.c_str(), others.verb(), desktopWidth(r),
                   desktopHeight(r));
        return;
    }
    const uint32_t scale = freerdp_settings_get_uint32(s, FreeRDP_DesktopScaleFactor);
    const uint32_t device = freerdp_settings_get_uint32(s, FreeRDP_DeviceScaleFactor);
    DISPLAY_CONTROL_MONITOR_LAYOUT layout[MAC_PLAN_MAX_MONITORS] = {};
    uint32_t count = announcedMonitors(s, scale ? scale : 100, device ? device : 100, layout);
    if (count == 0) {
        count = 1;
        layout[0].Flags = DISPLAY_CONTROL_MONITOR_PRIMARY;
        layout[0].Width = width;
        layout[0].Height = height;
        layout[0].DesktopScaleFactor = scale ? scale : 100;
        layout[0].DeviceScaleFactor = device ? device : 100;
    }
    if (count > 1) {
        int64_t allW = 0, allH = 0;
        layoutExtent(count, layout, allW, allH);
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_client_connect",
                   "client asked for %ux%u at %u%% at connect: using its %u monitors (%lldx%lld "
                   "in all)",
                   width, height, scale, count, static_cast<long long>(allW),
                   static_cast<long long>(allH));
    } else {
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_client_connect",
                   "client asked for %ux%u at %u%% at connect: using that size%s", width, height,
                   scale, hidpiWish(scale, device) ? " as a HiDPI desktop" : "");
    }
    mac_shadow_wake_display();

    r->connectingCount.fetch_add(1);
    if (r->publishingCount.load() >= 1) {
        r->connectingCount.fetch_sub(1);
        MAC_LOG_FN(WLOG_INFO, "mac_shadow_client_connect",
                   "a frame was being sent: switching size without waiting");
        mac_shadow_display_layout(subsystem, client, count, layout);
        return;
    }
    mac_shadow_display_layout(subsystem, client, count, layout);
    SectionLock lock(r->subsystemLock);
    if (r->resizePending) {
        const int32_t serial = r->resizeSerial;
        r->resizeRequestTick = 0;
        r->resizeHoldUntil = 0;
        lock.unlock();
        waitForApplied(r, serial);
    } else {
        lock.unlock();
    }
    r->connectingCount.fetch_sub(1);
}
