// The server process a supervisor runs (the tray, or --server-only), and its
// restart after unexpected ends on the schedule of supervision.h. The owner
// starts the process and watches its end; the keeper holds it, lets go of it
// before ending it (so that the owner's end handler can tell a stop from an
// end), and keeps the count of ends in a row.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "app/core/spawn.h"
#include "app/ui/clock.h"

namespace corvane::app::ui {

class ServerKeeper {
  public:
    // Null: the system clock.
    explicit ServerKeeper(Clock* clock) : clock_(clock ? *clock : systemClock()) {}

    // Holds a process that has just started.
    void adopt(std::shared_ptr<SpawnedProcess> process);
    const std::shared_ptr<SpawnedProcess>& process() const { return process_; }
    bool restartPending() const { return restartTimer_ && restartTimer_->isActive(); }
    int unexpectedEnds() const { return unexpectedEnds_; }

    // For the owner's end handler: true, and the process let go of, when it
    // is the one held; false for one already stopped through stop().
    bool release(const std::shared_ptr<SpawnedProcess>& ended);
    // Counts an unexpected end of the process just released and runs
    // `restart` after the delay the count calls for; returns the line that
    // says so.
    std::string scheduleRestart(std::function<void()> restart);
    // Cancels a pending restart, lets go of the process and ends it; false
    // when none was running.
    bool stop();

  private:
    Clock& clock_;
    std::shared_ptr<SpawnedProcess> process_;
    std::unique_ptr<Timer> restartTimer_;
    double startedAt_ = 0;
    int unexpectedEnds_ = 0;
};

} // namespace corvane::app::ui
