// Whether anyone is at the desktop, and locking it: for asking before a
// client gets the desktop and for locking the screen when the last client
// leaves. Both calls may come from any thread and cost at most a few round
// trips (the display server, the system bus); neither keeps a connection
// busy between calls.
#pragma once
#include <cstdint>
#include <string>

namespace corvane::platform {

// A fact the backend could not learn is marked unknown.
struct PresenceReading {
    bool lockedKnown = false;
    bool locked = false; // the session is locked, or its screen saver runs
    bool idleKnown = false;
    uint64_t idleMs = 0; // since the last local input
};

class Presence {
  public:
    virtual ~Presence() = default;
    virtual PresenceReading read() = 0;
    // Locks the session. `how` names what did it, or why nothing could.
    virtual bool lockSession(std::string& how) = 0;
};

} // namespace corvane::platform
