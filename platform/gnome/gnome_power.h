// Keeping a GNOME desktop awake. A display assertion asks GNOME's session
// manager not to go idle (org.gnome.SessionManager Inhibit, flag "idle") and
// takes logind's "idle" lock; a system assertion asks for "suspend" and
// logind's "sleep" lock. The session manager drops an inhibitor when the
// connection that asked for it closes, and logind when its descriptor
// closes: a killed server leaves nothing held. Screen sleep is mutter's
// power-save mode (org.gnome.Mutter.DisplayConfig PowerSaveMode).
#pragma once
#include <systemd/sd-bus.h>

#include <map>
#include <mutex>

#include "../power.h"
#include "gnome_session.h"

namespace corvane::platform::gnome {

class GnomePower : public Power {
  public:
    explicit GnomePower(GnomeSession& session) : session_(session) {}
    ~GnomePower() override;
    bool displayAsleep() override;
    void nudgePointer() override;
    uint32_t createAssertion(AssertionKind kind, std::string_view name) override;
    void releaseAssertion(uint32_t id) override;
    // Wakes a screen in power-save mode; GNOME's idle time is reset by the
    // input the session posts, so nothing is held.
    uint32_t declareUserActivity(std::string_view name) override;
    uint32_t declareSystemActivity(std::string_view name) override;

  private:
    struct Held {
        uint32_t cookie = 0; // the session manager's, 0 when it refused
        int inhibitorFd = -1;
    };
    sd_bus* busLocked();
    uint32_t inhibitLocked(uint32_t flags, std::string_view why);
    void releaseLocked(const Held& held);

    GnomeSession& session_;
    std::mutex mutex_;
    sd_bus* bus_ = nullptr; // the session bus, for the inhibitors' lifetime
    std::map<uint32_t, Held> held_;
    uint32_t nextId_ = 1;
};

} // namespace corvane::platform::gnome
