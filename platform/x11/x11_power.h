// Power on X11. The screen's sleep is DPMS; user activity resets the screen
// saver and switches DPMS on. Holding the display assertion switches the
// screen saver and DPMS off (restored on release); both assertions also take
// a logind inhibitor ("idle" or "sleep") where a system bus is reachable. The
// system assertion has nothing but logind behind it, so without a system bus
// it cannot be taken.
#pragma once
#include <map>
#include <mutex>

#include "../power.h"
#include "x11_connection.h"

namespace corvane::platform::x11 {

class X11Power : public Power {
  public:
    ~X11Power() override;
    bool displayAsleep() override;
    void nudgePointer() override;
    uint32_t createAssertion(AssertionKind kind, std::string_view name) override;
    void releaseAssertion(uint32_t id) override;
    uint32_t declareUserActivity(std::string_view name) override;
    uint32_t declareSystemActivity(std::string_view name) override;

  private:
    struct Held {
        AssertionKind kind;
        int inhibitorFd; // -1 when logind was not reachable
    };
    struct SavedScreenSaver {
        int timeout, interval, blanking, exposures;
        bool dpmsWasEnabled;
    };
    void suspendIdleLocked(Display* d);
    void restoreIdleLocked(Display* d);
    int displayAssertionsLocked() const;

    Connection conn_;
    std::mutex mutex_;
    std::map<uint32_t, Held> held_;
    uint32_t nextId_ = 1;
    SavedScreenSaver saved_{};
    bool suspended_ = false;
};

// A logind inhibitor lock; -1 when logind cannot be reached.
int logindInhibit(const char* what, std::string_view why);

} // namespace corvane::platform::x11
