// Our own logind session over the system bus: its idle and locked hints,
// and locking it. The session is the one this process belongs to, else the
// one XDG_SESSION_ID names.
#pragma once
#include <cstdint>
#include <string>

#include "../presence.h"

namespace corvane::platform::linuxos {

// What logind says of the session; false when there is no session or no bus.
bool logindSessionHints(PresenceReading& out);
// Asks logind to lock the session; false (with the reason) when it could not.
bool logindLockSession(std::string& why);

// Merges a second reading into a first: locked when either says so, the
// shorter idle time (input either saw is input at the desktop), each only
// where known. Pure.
PresenceReading mergePresence(const PresenceReading& a, const PresenceReading& b);

// The Presence of a backend that has only logind to ask.
class LogindPresence : public Presence {
  public:
    PresenceReading read() override;
    bool lockSession(std::string& how) override;
};

} // namespace corvane::platform::linuxos
