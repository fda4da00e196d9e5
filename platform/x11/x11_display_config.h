// Display configuration on X11 with RandR. A virtual display is a RandR
// monitor of its own ("Corvane Display N [id]", no output) at its place on
// the X screen, and the X screen is sized to hold every placed one; the
// display space is the screen, up to its RandR maximum size, and a
// configuration that would not fit is refused as a whole.
//
// X has one scale for everything shown: a 2x display is a monitor of its
// full pixel size, and while one is placed the root window's resources say
// Xft.dpi 192 and a cursor twice its size, so that programs draw at 2x; the
// values they replaced come back when the last 2x display goes.
//
// Mirroring: the main display (the screen's start-up area from 0,0, shown by
// the outputs there are) mirrors a virtual display by showing its area;
// while it mirrors, the start-up area is no longer kept. Every active output
// then shows that area (x11_outputs.h): one that can neither take a mode of
// its size nor scale to it makes the configuration fail. An output's CRTC
// is never switched off: the screen never shrinks below what the active
// CRTCs show. When mirroring ends the outputs get their own modes back, and
// when the last virtual display goes the start-up size returns and our
// monitors are deleted. A screen size changed from outside (xrandr by the
// user) becomes the new start-up size and is reported to the screen-change
// handler.
//
// What is to be given back is also kept on the root window (the property
// CORVANE_GIVE_BACK, with our process id): a server that finds one left by a
// process that has ended (killed, crashed) gives it back before it starts.
//
// The screen of an X server that took the place of one that went away is,
// once the connection is open again, the new start-up state.
#pragma once
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../display_config.h"
#include "../power.h"
#include "x11_capture.h"
#include "x11_connection.h"
#include "x11_outputs.h"
#include "x11_resources.h"

namespace corvane::platform::x11 {

inline constexpr uint32_t kX11MainDisplayId = 0x7fff0000u;
inline constexpr uint32_t kX11FirstVirtualId = 0x1000u;
inline constexpr int32_t kX11ConfigError = 1000;

// The virtual display a RandR monitor of this name stands for; 0 for none.
uint32_t virtualIdOfMonitor(const char* name);

class X11DisplayConfig : public DisplayConfig {
  public:
    explicit X11DisplayConfig(Power& power, Connection::ClockFn clock = Backoff::Clock::now);
    ~X11DisplayConfig() override;

    bool virtualDisplaysSupported() override;
    DisplaySpace maxSpace() override;
    HiDpiScope hiDpiScope() override { return HiDpiScope::wholeScreen; }
    void recover() override;
    // Completes before it returns.
    void createVirtualDisplay(const VirtualDisplayDescriptor& descriptor,
                              VirtualDisplayDone done) override;
    // The same, answered directly (null when the display cannot be made).
    std::unique_ptr<VirtualDisplay>
    createVirtualDisplay(const VirtualDisplayDescriptor& descriptor);
    uint32_t mainDisplay() override { return kX11MainDisplayId; }
    std::vector<uint32_t> activeDisplays(size_t max) override;
    std::vector<uint32_t> onlineDisplays(size_t max) override;
    bool bounds(uint32_t display, DisplayBounds& out) override;
    bool currentMode(uint32_t display, DisplayModeInfo& out) override;
    uint32_t mirrorsDisplay(uint32_t display) override;
    bool asleep(uint32_t display) override;
    std::unique_ptr<DisplayTransaction> begin(int32_t& error) override;
    void setScreenChangeHandler(std::function<void()> handler) override;

    // Used by the display and transaction objects.
    void remove(uint32_t id);
    int32_t apply(const std::vector<std::pair<uint32_t, uint32_t>>& mirrors,
                  const std::vector<std::pair<uint32_t, std::pair<int32_t, int32_t>>>& places);

  private:
    struct Virtual {
        std::string monitorName;
        int32_t x = 0, y = 0, width = 0, height = 0; // pixels on the X screen
        int32_t mmWidth = 0, mmHeight = 0;
        bool placed = false;
        bool hiDpi = false; // its mode shows points of 2 pixels
    };
    Display* displayLocked();
    bool baselineLocked(Display* d);
    int32_t realiseLocked(Display* d);
    void setScreenSizeLocked(Display* d, int32_t width, int32_t height);
    void growScreenLocked(Display* d, int32_t width, int32_t height);
    bool outputsLocked(Display* d, const Virtual* mirrored);
    void keepGiveBackLocked(Display* d, bool changed);
    void giveBackLeftoverLocked(Display* d);
    void watch();
    bool followChanges(const OwnedDisplay& owned);
    bool awaitWake(int fd);
    void report();

    Power& power_;
    Connection conn_; // guarded by its mutex, which also guards the state below
    bool haveBaseline_ = false;
    uint64_t baselineGeneration_ = 0; // the connection the baseline was read on
    int32_t startWidth_ = 0, startHeight_ = 0, startMmWidth_ = 0, startMmHeight_ = 0;
    std::map<uint32_t, Virtual> virtual_;
    std::vector<uint32_t> order_;
    std::vector<std::string> declared_; // monitor names we declared
    uint32_t mainMirrorOf_ = 0;
    uint32_t nextId_ = kX11FirstVirtualId;
    std::deque<std::pair<int32_t, int32_t>> ownSizes_; // sizes we set, events pending
    OutputMirror outputs_;
    HiDpiResources resources_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);

    std::mutex handlerMutex_;
    std::function<void()> handler_;
    // The watcher has a connection of its own; it opens a new one when the
    // service's connection came back after a loss (woken through wakeFd_).
    std::thread watcher_;
    int wakeFd_ = -1;
    std::atomic<bool> quit_{false};
    std::atomic<bool> reportPending_{false};
};

} // namespace corvane::platform::x11
