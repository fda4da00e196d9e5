// Power on X11. The screen's sleep is DPMS or an active screen saver; user
// activity resets the screen saver and switches the monitor on. Holding the
// display assertion suspends the screen saver (and with it DPMS) through the
// screen saver extension's suspend request, which the X server cancels by
// itself when our connection closes: a killed server leaves no setting
// changed. Both assertions also take a logind inhibitor ("idle" or "sleep")
// where a system bus is reachable; the system assertion has nothing else
// behind it, so without a system bus it cannot be taken. A bus that is not
// there is asked again only after a growing pause.
#pragma once
#include <functional>
#include <map>
#include <mutex>
#include <string_view>

#include "../backoff.h"
#include "../linux/logind_inhibit.h"
#include "../power.h"
#include "x11_connection.h"

namespace corvane::platform::x11 {

// Takes a logind inhibitor lock; its descriptor, or -1 when logind cannot
// be reached.
using Inhibitor = std::function<int(const char* what, std::string_view why)>;
using linuxos::logindInhibit;

class X11Power : public Power {
  public:
    X11Power(Inhibitor inhibit = logindInhibit, Connection::ClockFn clock = Backoff::Clock::now);
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
    int inhibitLocked(const char* what, std::string_view why);
    // The display with the screen saver suspended on it exactly while a
    // display assertion is held (also on a connection opened anew).
    Display* displayLocked();
    int displayAssertionsLocked() const;

    Inhibitor inhibit_;
    Connection::ClockFn clock_;
    Backoff logindRetry_;
    Connection conn_;
    std::mutex mutex_; // before conn_.mutex()
    std::map<uint32_t, Held> held_;
    uint32_t nextId_ = 1;
    bool suspended_ = false;
    uint64_t suspendedGeneration_ = 0;
};

} // namespace corvane::platform::x11
