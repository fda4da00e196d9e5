// Display configuration: virtual displays with their one mode, the displays
// there are and where they lie, mirroring, configuration transactions and
// display sleep.
//
// Threading: every call may come from any thread; a backend serialises its
// own state. Queries return what the display server says now. Making a
// virtual display and completing a transaction take a completion, because a
// compositor answers those later: it may run on any thread, before the call
// returns (x11, sim) or long after, or never (a hung compositor), so callers
// bound their waits, and whatever a late completion brings is theirs to drop. The screen-change
// handler runs on a thread of the backend and must not call back into the service while it runs.
// Display ids are the ones the capture service uses for the same display; 0 never names one.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvane::platform {

// What a virtual display is made from. Sizes of the mode are in points; with
// hiDPI the display is asked for a 2x mode (pixels = 2 x points), which a
// backend may refuse (the display then comes up at 1x).
struct VirtualDisplayDescriptor {
    std::string name;
    uint32_t vendorId = 0;
    uint32_t productId = 0;
    uint32_t serialNumber = 0;
    uint32_t maxPixelsWide = 0;
    uint32_t maxPixelsHigh = 0;
    double widthMillimetres = 0;
    double heightMillimetres = 0;
    uint32_t modePointsWide = 0;
    uint32_t modePointsHigh = 0;
    double refreshRate = 60;
    bool hiDPI = false;
};

// Removing the object removes the display.
class VirtualDisplay {
  public:
    virtual ~VirtualDisplay() = default;
    virtual uint32_t id() const = 0;
};

// A display's place in the global display space, in points.
struct DisplayBounds {
    double x = 0, y = 0, width = 0, height = 0;
};

// How far the display space may reach from 0,0, in points; 0 for no limit.
struct DisplaySpace {
    double width = 0, height = 0;
};

// How a 2x mode is given. perDisplay: each display has a scale of its own
// and the display space counts points, so a 2x display takes half its
// pixels there. wholeScreen: one scale for everything shown, and the display
// space counts pixels; a configuration's displays are all 2x or none is.
enum class HiDpiScope { perDisplay, wholeScreen };

// A display's current mode: pixels and the points they show.
struct DisplayModeInfo {
    int32_t pixelWidth = 0, pixelHeight = 0;
    double pointsWidth = 0, pointsHeight = 0;
};

// The answer to complete(): an error code, 0 = done.
using DisplayTransactionDone = std::function<void(int32_t error)>;
// The answer to createVirtualDisplay(): the display, or null with the reason.
using VirtualDisplayDone =
    std::function<void(std::unique_ptr<VirtualDisplay> display, const std::string& error)>;

// One configuration change, applied as a whole by complete(): either all of
// it takes effect or none of it does. Results are error codes: 0 = done. A
// transaction that is neither completed nor cancelled is cancelled when it is
// destroyed; destroying it while its completion is outstanding is allowed.
class DisplayTransaction {
  public:
    virtual ~DisplayTransaction() = default;
    // display shows master's picture; master 0 ends its mirroring.
    virtual int32_t mirror(uint32_t display, uint32_t master) = 0;
    virtual int32_t place(uint32_t display, int32_t x, int32_t y) = 0;
    virtual void complete(DisplayTransactionDone done) = 0;
    virtual void cancel() = 0;
};

class DisplayConfig {
  public:
    virtual ~DisplayConfig() = default;

    // False when this desktop cannot make virtual displays at all.
    virtual bool virtualDisplaysSupported() = 0;
    // The limit a configuration must stay within; a transaction that would
    // go beyond it is refused as a whole.
    virtual DisplaySpace maxSpace() { return {}; }
    virtual HiDpiScope hiDpiScope() { return HiDpiScope::perDisplay; }
    // True where the display server puts virtual displays where it likes and
    // cannot mirror them (mutter): there is nothing to arrange.
    virtual bool placesVirtualDisplaysItself() { return false; }
    // Gives back what an earlier process left changed on the displays and
    // could not give back itself (it was killed); called once at start,
    // before the displays are measured.
    virtual void recover() {}
    // Makes a virtual display; done gets null with a reason when it cannot
    // be made.
    virtual void createVirtualDisplay(const VirtualDisplayDescriptor& descriptor,
                                      VirtualDisplayDone done) = 0;

    virtual uint32_t mainDisplay() = 0;
    // The displays that show something (up to max), main display first.
    virtual std::vector<uint32_t> activeDisplays(size_t max) = 0;
    // Every display attached, also those asleep or mirroring.
    virtual std::vector<uint32_t> onlineDisplays(size_t max) = 0;
    virtual bool bounds(uint32_t display, DisplayBounds& out) = 0;
    virtual bool currentMode(uint32_t display, DisplayModeInfo& out) = 0;
    // The display it mirrors, 0 for none.
    virtual uint32_t mirrorsDisplay(uint32_t display) = 0;
    virtual bool asleep(uint32_t display) = 0;

    // Null (with an error code) when no transaction can be begun.
    virtual std::unique_ptr<DisplayTransaction> begin(int32_t& error) = 0;

    // Called when the main display changed size by someone else's hand (not
    // through this service). One handler; an empty function removes it.
    virtual void setScreenChangeHandler(std::function<void()> handler) = 0;
};

} // namespace corvane::platform
