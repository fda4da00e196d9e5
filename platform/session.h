// The desktop session: what a backend must hold open while clients share the
// desktop (on GNOME, the compositor's remote-desktop session that owns the
// picture, the input and the clipboard; on X11, nothing). The subsystem opens
// it when the first client needs the desktop and closes it after the last.
//
// open() completes later, on a thread of the backend, or never (a hung
// display server): callers bound their wait. The ended handler runs on a
// thread of the backend when the session ends from outside (the compositor
// closed it or went away), never for close() itself.
#pragma once
#include <functional>
#include <string>

namespace corvane::platform {

class DesktopSession {
  public:
    virtual ~DesktopSession() = default;
    virtual void open(std::function<void(bool ok, const std::string& error)> done) = 0;
    virtual void close() = 0;
    virtual void setEndedHandler(std::function<void(const std::string& reason)> handler) = 0;
};

} // namespace corvane::platform
