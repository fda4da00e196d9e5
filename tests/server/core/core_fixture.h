// A subsystem record wired to a stand-in shadow server: a real surface and
// client list, fake clients, a fake encoder host, an injected clock, the sim
// platform and captured log lines.
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <freerdp/server/shadow.h>

#include "server/log_capture.h"
#include "server/shadow/Mac/mac_shadow.h"
#include "sim_fixture.h"

// The captured lines' texts.
struct LogLines {
    static std::vector<std::string> take() { return log_capture::lines(false); }
    static size_t count(const std::string& text) { return log_capture::count(text, false); }
    static void clear() { log_capture::clear(); }
};

// What the fake clock and host saw, shared by the fixture and its fakes.
namespace core_fakes {
inline std::atomic<uint64_t> gNow{1000000};
inline std::atomic<int> gPublications{0}, gScreenResizes{0}, gQuits{0};
inline std::atomic<UINT32> gPreferredFps{0}, gInflight{0};
// From this time on (ms of the fake clock) no frame is in flight; 0: never.
inline std::atomic<uint64_t> gInflightDrainsAt{0};
// The fake clock's time at the last resize of the surface.
inline std::atomic<uint64_t> gLastResizeAt{0};
} // namespace core_fakes

class CoreTest : public SimPlatformTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    macShadowSubsystem* record() { return record_; }
    rdpShadowServer* server() { return server_; }
    rdpShadowSurface* surface() { return server_->surface; }
    // Adds an activated client (with settings) to the client list.
    rdpShadowClient* addClient(bool activated = true);
    void removeClients();
    void setNow(uint64_t ms) { core_fakes::gNow = ms; }
    uint64_t now() const { return core_fakes::gNow.load(); }
    void advance(uint64_t ms) { setNow(now() + ms); }
    // One loop turn 62 ms on; turns every 62 ms until `until` (inclusive of
    // the last turn).
    void turn();
    void runTurnsUntil(uint64_t until);
    int publications() const { return core_fakes::gPublications.load(); }
    // Times the surface was resized to the desktop.
    int screenResizes() const { return core_fakes::gScreenResizes.load(); }
    // Times every client was told to end its session (the library's quit).
    int clientQuits() const { return core_fakes::gQuits.load(); }
    void setPreferredFps(UINT32 fps) { core_fakes::gPreferredFps = fps; }
    void setInflight(UINT32 frames, uint64_t drainsAt = 0) {
        core_fakes::gInflight = frames;
        core_fakes::gInflightDrainsAt = drainsAt;
    }
    uint64_t lastResizeAt() const { return core_fakes::gLastResizeAt.load(); }
    bool regionEmpty();
    uint32_t pixel(int x, int y);
    // Waits in real time (at most 5 s) for work of another thread.
    static bool waitUntilTrue(const std::function<bool()>& condition);

  private:
    macShadowSubsystem* record_ = nullptr;
    rdpShadowServer* server_ = nullptr;
    std::vector<rdpShadowClient*> clients_;
};
