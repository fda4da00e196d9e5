// A private X connection for one platform service. Each service keeps its
// own so that no two threads share an Xlib connection.
#pragma once
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
    // Opens $DISPLAY on first use; null when it cannot be opened.
    Display* get();
    std::mutex& mutex() { return mutex_; }

private:
    std::mutex mutex_;
    DisplayPtr display_;
    bool tried_ = false;
};

// Points per pixel on X11 come from CORVANE_X11_SCALE (pixels per point,
// at least 1); without it points equal pixels.
double configuredScale();

} // namespace corvane::platform::x11
