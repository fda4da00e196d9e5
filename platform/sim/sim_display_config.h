// The sim backend's display configuration: the main display (id 1) at 0,0
// with the size SimDisplays gives it, virtual displays laid out to its
// right, mirror sets in which every member takes its master's bounds, and
// transactions. Sleep is SimPower's screen state (all displays sleep
// together). Virtual displays also appear in SimCapture's content, so the
// capture bridge can stream them.
//
// With one scale for the whole screen (as on X11) a 2x display comes up at
// its full pixel size and the display space counts pixels.
//
// Like an X server, the display space has a maximum size (8192 x 4096
// points unless the test sets another) and a transaction takes effect as a
// whole or not at all: one that would reach beyond the maximum is refused.
//
// Faults, switched on by the test: virtual displays unsupported, creations
// failing from the n-th on, a refused 2x mode (the display comes up at 1x),
// the next display coming up at another pixel size, mirroring dropped right
// after the next n completions that set it up, begins or completions
// failing, placements ignored, displays that reach the capture only once a
// configuration placed them (as RandR monitors do), completions held back
// (a compositor that answers late, or never) until the test releases them.
#pragma once
#include <map>
#include <mutex>
#include <vector>

#include "../display_config.h"
#include "sim_capture.h"
#include "sim_power.h"

namespace corvane::platform::sim {

class SimDisplays;

inline constexpr uint32_t kSimMainDisplayId = 1;
inline constexpr int32_t kSimConfigError = 1000;

class SimDisplayConfig : public DisplayConfig {
  public:
    SimDisplayConfig(SimDisplays& displays, SimPower& power, SimCapture& capture);

    bool virtualDisplaysSupported() override;
    DisplaySpace maxSpace() override;
    HiDpiScope hiDpiScope() override;
    bool placesVirtualDisplaysItself() override;
    // Completes before it returns unless completions are held.
    void createVirtualDisplay(const VirtualDisplayDescriptor& descriptor,
                              VirtualDisplayDone done) override;
    // The same, answered directly (null when the display cannot be made).
    std::unique_ptr<VirtualDisplay>
    createVirtualDisplay(const VirtualDisplayDescriptor& descriptor);
    uint32_t mainDisplay() override { return kSimMainDisplayId; }
    std::vector<uint32_t> activeDisplays(size_t max) override;
    std::vector<uint32_t> onlineDisplays(size_t max) override;
    bool bounds(uint32_t display, DisplayBounds& out) override;
    bool currentMode(uint32_t display, DisplayModeInfo& out) override;
    uint32_t mirrorsDisplay(uint32_t display) override;
    bool asleep(uint32_t display) override;
    std::unique_ptr<DisplayTransaction> begin(int32_t& error) override;
    void setScreenChangeHandler(std::function<void()> handler) override;

    void setMaxSpace(double width, double height); // 0 x 0: no limit
    void setHiDpiScope(HiDpiScope scope);
    void setPlacesItself(bool itself); // as mutter: nothing is arranged

    // Faults.
    void setSupported(bool supported);
    void showOnlyPlaced(bool only);
    void failCreationsFrom(int32_t nth); // 1-based from now; 0 = none fail
    void setRefuse2x(bool refuse);
    void setNextPixelSize(int32_t width, int32_t height);
    void dropMirroring(int32_t times);
    void failBegins(int32_t count);
    void failCompletes(int32_t count);
    void ignorePlacements(int32_t completions);
    // While held, creations and transaction completions wait (nothing is
    // made or applied) until releaseHeld() runs them, on the caller's thread;
    // never releasing them is a compositor that never answers.
    void holdCompletions(bool hold);
    void releaseHeld();
    int32_t heldCount();
    // The main display changes size by someone else's hand.
    void changeMainFromOutside(int32_t pixelWidth, int32_t pixelHeight, double scale);

    // Observation.
    std::vector<VirtualDisplayDescriptor> descriptors(); // every one handed in
    std::vector<uint32_t> virtualDisplays();             // alive now, in creation order
    int32_t completions();

  private:
    friend class SimTransaction;
    // Runs `work` now, or keeps it for releaseHeld() while completions are held.
    void answer(std::function<void()> work);
    friend class SimVirtualDisplay;
    struct Entry {
        DisplayBounds own;
        DisplayModeInfo mode;
        uint32_t mirrorOf = 0;
        bool placed = false;
    };
    void remove(uint32_t id);
    int32_t apply(const std::vector<std::pair<uint32_t, uint32_t>>& mirrors,
                  const std::vector<std::pair<uint32_t, std::pair<int32_t, int32_t>>>& places);
    bool boundsLocked(uint32_t display, DisplayBounds& out);
    bool withinSpaceLocked();
    void publishToCapture();

    SimDisplays& displays_;
    SimPower& power_;
    SimCapture& capture_;
    std::mutex mutex_;
    std::map<uint32_t, Entry> virtual_;
    std::vector<uint32_t> order_;
    uint32_t mainMirrorOf_ = 0;
    uint32_t nextId_ = 0x100;
    bool supported_ = true;
    DisplaySpace maxSpace_{8192, 4096};
    bool onlyPlaced_ = false;
    HiDpiScope scope_ = HiDpiScope::perDisplay;
    int32_t createCalls_ = 0;
    int32_t failFrom_ = 0;
    bool refuse2x_ = false;
    bool placesItself_ = false;
    int32_t nextWidth_ = 0, nextHeight_ = 0;
    int32_t drops_ = 0, beginFailures_ = 0, completeFailures_ = 0, ignoredPlacements_ = 0;
    int32_t completions_ = 0;
    bool holding_ = false;
    std::vector<std::function<void()>> held_;
    std::vector<VirtualDisplayDescriptor> descriptors_;
    std::function<void()> handler_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace corvane::platform::sim
