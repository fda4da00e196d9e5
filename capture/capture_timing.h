// The bridge's waits: completions are awaited with a time limit and look-ups
// sleep between tries. Tests replace the waiting so that time limits and
// retries run without real time passing.
#pragma once
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace corvane::capture {

// A one-shot signal shared between a waiter and a completion that may run
// after the waiter gave up.
class Signal {
  public:
    void notify();
    bool notified();
    // True when notified within `limit`.
    bool waitFor(std::chrono::milliseconds limit);

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool notified_ = false;
};

class Timing {
  public:
    virtual ~Timing() = default;
    // True when the signal came within the limit.
    virtual bool wait(Signal& signal, std::chrono::milliseconds limit) = 0;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

// The process-wide timing (real waits unless replaced).
Timing& timing();
// Replaces the timing for tests; null restores the real one.
void setTimingForTests(Timing* replacement);

} // namespace corvane::capture
