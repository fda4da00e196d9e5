// The sim backend's presence: readings a test sets, and a count of locks.
#pragma once
#include <mutex>

#include "../presence.h"

namespace corvane::platform::sim {

class SimPresence : public Presence {
  public:
    PresenceReading read() override;
    bool lockSession(std::string& how) override;

    void set(const PresenceReading& reading);
    // A lock that fails (no session to lock).
    void setLockFails(bool fails);
    int locks();

  private:
    std::mutex mutex_;
    PresenceReading reading_;
    bool lockFails_ = false;
    int locks_ = 0;
};

} // namespace corvane::platform::sim
