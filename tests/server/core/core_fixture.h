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
    void setNow(uint64_t ms);
    uint64_t now() const;
    void advance(uint64_t ms) { setNow(now() + ms); }
    // Runs loop turns every 62 ms until `until` (inclusive of the last turn).
    void runTurnsUntil(uint64_t until);
    int publications() const;
    // Times the surface was resized to the desktop.
    int screenResizes() const;
    // Times every client was told to end its session (the library's quit).
    int clientQuits() const;
    void setPreferredFps(UINT32 fps);
    void setInflight(UINT32 frames);
    bool regionEmpty();
    uint32_t pixel(int x, int y);
    // Waits in real time (at most 5 s) for work of another thread.
    static bool waitUntilTrue(const std::function<bool()>& condition);

  private:
    macShadowSubsystem* record_ = nullptr;
    rdpShadowServer* server_ = nullptr;
    std::vector<rdpShadowClient*> clients_;
};
