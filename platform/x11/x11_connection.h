// A private X connection for one platform service. Each service keeps its
// own so that no two threads share an Xlib connection. A lost connection
// (the X server ended) never ends the process: the connection is marked lost
// and the service answers as if the display were not there.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>

#include <X11/Xlib.h>

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
    // Opens $DISPLAY on first use; null when it cannot be opened or the
    // connection was lost.
    Display* get();
    std::mutex& mutex() { return mutex_; }
    bool lost() const { return lost_.load(); }

  private:
    std::mutex mutex_;
    DisplayPtr display_;
    bool tried_ = false;
    std::atomic<bool> lost_{false};
};

// Installs the process-wide Xlib error handlers that report instead of
// ending the process (once; later calls do nothing).
void installQuietErrorHandlers();

// Points per pixel on X11 come from CORVANE_X11_SCALE (pixels per point,
// at least 1); without it points equal pixels.
double configuredScale();

} // namespace corvane::platform::x11
