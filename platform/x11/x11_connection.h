// A private X connection for one platform service. Each service keeps its
// own so that no two threads share an Xlib connection. A lost connection
// (the X server ended) never ends the process: the dead connection is closed
// on the next use and the display opened again once a retry is due, so a
// display server that restarts is found again. Until then the service
// answers as if the display were not there.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include <X11/Xlib.h>

#include "../backoff.h"

namespace corvane::platform::x11 {

struct DisplayCloser {
    void operator()(Display* d) const {
        if (d)
            XCloseDisplay(d);
    }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

class Connection {
  public:
    using ClockFn = std::function<Backoff::Clock::time_point()>;
    explicit Connection(ClockFn clock = Backoff::Clock::now);

    // The open display: opens $DISPLAY when there is none (or the last one
    // was lost) and a retry is due; null otherwise. Call with mutex() held.
    Display* get();
    std::mutex& mutex() { return mutex_; }
    bool lost() const { return lost_.load(); }
    // Counts the connections opened so far: state a service keeps about the
    // display (held keys, extensions, a suspended screen saver) belongs to
    // one generation and is dropped or redone when it changes.
    uint64_t generation() const { return generation_; }

  private:
    std::mutex mutex_;
    ClockFn clock_;
    DisplayPtr display_;
    std::atomic<bool> lost_{false}; // set by Xlib's exit handler of the display

    Backoff retry_;
    uint64_t generation_ = 0;
};

// Installs the process-wide Xlib error handlers that report instead of
// ending the process (once; later calls do nothing).
void installQuietErrorHandlers();

// Points per pixel on X11 come from CORVANE_X11_SCALE (pixels per point,
// at least 1); without it points equal pixels.
double configuredScale();

} // namespace corvane::platform::x11
