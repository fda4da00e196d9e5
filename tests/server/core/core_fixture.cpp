#include "core_fixture.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <freerdp/codec/color.h>
#include <freerdp/settings.h>

#include "base/clock.h"
#include "server/shadow/Mac/core/desktop_session.h"
#include "server/shadow/Mac/core/host.h"
#include "server/shadow/Mac/core/terminate.h"
#include "server/shadow/Mac/loop/frames.h"
#include "server/shadow/Mac/loop/thread.h"

namespace {

using namespace core_fakes;

uint64_t fakeNowMs() {
    return gNow.load();
}
uint64_t fakeNowNs() {
    return gNow.load() * 1000000ull;
}
void fakeSleep(uint32_t ms) {
    gNow += ms;
}
void fakeFrameUpdate(rdpShadowSubsystem*) {
    ++gPublications;
}
UINT32 fakePreferredFps(rdpShadowEncoder*) {
    return gPreferredFps.load();
}
UINT32 fakeInflight(rdpShadowEncoder*) {
    const uint64_t drains = gInflightDrainsAt.load();
    return drains && gNow.load() >= drains ? 0 : gInflight.load();
}
BOOL fakeScreenResize(rdpShadowServer* server);
int fakeQuitClients(rdpShadowServer*, int) {
    ++gQuits;
    return 1;
}
const MacShadowHost kFakeHost = {fakeFrameUpdate, fakePreferredFps, fakeInflight, fakeScreenResize,
                                 fakeQuitClients};

rdpShadowSurface* newSurface(UINT32 width, UINT32 height) {
    auto* s = static_cast<rdpShadowSurface*>(std::calloc(1, sizeof(rdpShadowSurface)));
    s->width = width;
    s->height = height;
    s->scanline = width * 4;
    s->format = PIXEL_FORMAT_BGRX32;
    s->data = static_cast<BYTE*>(std::calloc(1, s->scanline * height));
    InitializeCriticalSection(&s->lock);
    region16_init(&s->invalidRegion);
    return s;
}

// The surface takes the desktop's size, as the library's resize does.
BOOL fakeScreenResize(rdpShadowServer* server) {
    const MONITOR_DEF& whole = server->subsystem->virtualScreen;
    rdpShadowSurface* s = server->surface;
    EnterCriticalSection(&s->lock);
    s->width = static_cast<UINT32>(whole.right - whole.left + 1);
    s->height = static_cast<UINT32>(whole.bottom - whole.top + 1);
    s->scanline = s->width * 4;
    std::free(s->data);
    s->data = static_cast<BYTE*>(std::calloc(1, size_t{s->scanline} * s->height));
    region16_clear(&s->invalidRegion);
    LeaveCriticalSection(&s->lock);
    ++gScreenResizes;
    gLastResizeAt = gNow.load();
    return TRUE;
}

} // namespace

void CoreTest::SetUp() {
    SimPlatformTest::SetUp();
    log_capture::install();
    WLog_SetLogLevel(WLog_GetRoot(), WLOG_INFO);
    gNow = 1000000;
    gPublications = 0;
    gPreferredFps = 0;
    gInflight = 0;
    gInflightDrainsAt = 0;
    gLastResizeAt = 0;
    gScreenResizes = 0;
    gQuits = 0;
    mac_set_clock_for_tests(fakeNowMs);
    mac_set_ns_clock_for_tests(fakeNowNs);
    mac_set_sleep_for_tests(fakeSleep);
    mac_shadow_set_host_for_tests(&kFakeHost);
    mac_shadow_reset_capture_stats();
    sim().simDisplays().setMain(1280, 800, 1.0);
    // The main display can be captured once a client opens the session.
    sim().simCapture().setDisplays({{1, 0, 0, 1280, 800}}, 1);

    server_ = static_cast<rdpShadowServer*>(std::calloc(1, sizeof(rdpShadowServer)));
    server_->clients = ArrayList_New(TRUE);
    server_->surface = newSurface(1280, 800);
    record_ = reinterpret_cast<macShadowSubsystem*>(mac_shadow_subsystem_new());
    record_->common.base.server = server_;
    server_->subsystem = &record_->common.base;
    record_->common.base.MsgPipe = MessagePipe_New();
    ASSERT_EQ(mac_shadow_subsystem_init(&record_->common.base), 1);
}

void CoreTest::TearDown() {
    mac_shadow_set_record(nullptr);
    removeClients();
    MessagePipe_Free(record_->common.base.MsgPipe);
    mac_shadow_subsystem_free(&record_->common.base);
    region16_uninit(&server_->surface->invalidRegion);
    DeleteCriticalSection(&server_->surface->lock);
    std::free(server_->surface->data);
    std::free(server_->surface);
    ArrayList_Free(server_->clients);
    std::free(server_);
    mac_shadow_set_host_for_tests(nullptr);
    mac_set_clock_for_tests(nullptr);
    mac_set_ns_clock_for_tests(nullptr);
    mac_set_sleep_for_tests(nullptr);
    SimPlatformTest::TearDown();
}

rdpShadowClient* CoreTest::addClient(bool activated) {
    auto* c = static_cast<rdpShadowClient*>(std::calloc(1, sizeof(rdpShadowClient)));
    c->context.settings = freerdp_settings_new(0);
    c->activated = activated;
    // A non-null encoder marks a client whose frames the fake host answers for.
    c->encoder = reinterpret_cast<rdpShadowEncoder*>(c);
    ArrayList_Append(server_->clients, c);
    clients_.push_back(c);
    // As its connect step does: an activated client has the desktop session.
    if (activated)
        mac_shadow_session_need(record_);
    return c;
}

void CoreTest::removeClients() {
    ArrayList_Clear(server_->clients);
    for (auto* c : clients_) {
        freerdp_settings_free(c->context.settings);
        std::free(c);
    }
    clients_.clear();
}

void CoreTest::turn() {
    advance(62);
    mac_shadow_loop_turn(record_, now());
}

void CoreTest::runTurnsUntil(uint64_t until) {
    while (now() + 62 <= until)
        turn();
}

bool CoreTest::regionEmpty() {
    return region16_is_empty(&server_->surface->invalidRegion);
}

uint32_t CoreTest::pixel(int x, int y) {
    // Delivery threads write the surface under its lock.
    uint32_t value = 0;
    EnterCriticalSection(&server_->surface->lock);
    std::memcpy(&value, server_->surface->data + y * server_->surface->scanline + x * 4, 4);
    LeaveCriticalSection(&server_->surface->lock);
    return value;
}

bool CoreTest::waitUntilTrue(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
