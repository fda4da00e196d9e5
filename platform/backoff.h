// Spacing of retries for something that failed (a display server that went
// away, a system bus that is not there): the first retry after `first`, each
// further one after twice the previous wait, never more than `cap` apart.
// The caller passes the time, so the schedule can be tested without waiting.
#pragma once
#include <algorithm>
#include <chrono>

namespace corvane::platform {

class Backoff {
  public:
    using Clock = std::chrono::steady_clock;

    Backoff(std::chrono::milliseconds first, std::chrono::milliseconds cap)
        : first_(first), cap_(cap) {}

    // Whether an attempt may be made now.
    bool due(Clock::time_point now) const { return failures_ == 0 || now >= next_; }
    // An attempt failed at `now`: the next one waits longer.
    void failed(Clock::time_point now) {
        const auto wait = failures_ == 0 ? first_ : std::min(cap_, wait_ * 2);
        wait_ = wait;
        next_ = now + wait;
        ++failures_;
    }
    // An attempt worked: the next failure starts the schedule afresh.
    void succeeded() { failures_ = 0; }
    int failures() const { return failures_; }
    // When the next attempt is due; meaningful only after a failure.
    Clock::time_point nextAttempt() const { return next_; }

  private:
    std::chrono::milliseconds first_;
    std::chrono::milliseconds cap_;
    std::chrono::milliseconds wait_{0};
    Clock::time_point next_{};
    int failures_ = 0;
};

} // namespace corvane::platform
