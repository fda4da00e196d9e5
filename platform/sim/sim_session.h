// The sim backend's desktop session: opens at once unless the test switches
// on a fault, counts opens and closes, and ends from outside on request.
//
// Faults, switched on by the test: opens refused (with the compositor's
// words), opens that never complete (held until releaseHeldOpen(), which
// answers them as refused, or never).
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "../session.h"

namespace corvane::platform::sim {

class SimDesktopSession : public DesktopSession {
  public:
    void open(SessionOpened done) override;
    void close() override;
    void setEndedHandler(SessionEnded handler) override;

    // Faults.
    void refuseOpens(const std::string& error); // empty: opens succeed
    void holdOpens(bool hold);
    // Answers held opens as refused ("the sim answered late"), on this thread.
    void releaseHeldOpen();
    // The compositor ends the open session: it is closed and the ended
    // handler runs on this thread. False when no session was open.
    bool endFromOutside(const std::string& reason);

    // Observation.
    bool isOpen() const;
    int32_t opens() const;  // opens that succeeded
    int32_t closes() const; // closes of an open session
    int32_t heldOpens() const;

  private:
    mutable std::mutex mutex_;
    bool open_ = false;
    std::string refusal_;
    bool holding_ = false;
    std::vector<SessionOpened> held_;
    int32_t opens_ = 0;
    int32_t closes_ = 0;
    SessionEnded ended_;
};

} // namespace corvane::platform::sim
