// Time for the application's schedules (restart delays, the permission watch,
// the usage tick, the status line's return): one clock object hands out the
// timers and tells the time, so that tests can drive every schedule without
// waiting.
#pragma once
#include <functional>
#include <memory>

namespace corvane::app::ui {

// A timer of the main thread. Destroying it cancels it.
class Timer {
  public:
    virtual ~Timer() = default;
    // (Re)starts the timer; an earlier schedule is dropped.
    virtual void start(double seconds, bool repeating, std::function<void()> tick) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    // Seconds on a monotonic scale.
    virtual double now() const = 0;
    virtual std::unique_ptr<Timer> makeTimer() = 0;
};

// The real clock: Qt timers on the main event loop, the steady clock.
Clock& systemClock();

} // namespace corvane::app::ui
