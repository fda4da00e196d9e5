// The desktop session: what a backend needs before it can show the desktop
// or take input. On a compositor that ties picture, input and clipboard to
// one remote-desktop session (GNOME) this is that session; where each
// service stands alone (X11) it opens at once and holds nothing.
//
// The subsystem opens it when the first client needs the desktop, before any
// capture stream starts, and closes it after the last client left.
//
// Threading: open's completion may run on any thread, before open returns or
// long after, or never (a hung compositor): callers bound their waits. A
// caller that gave up calls close(), which also ends an opening still in
// progress (its late completion, if any, reports failure). The ended handler runs on a thread of
// the backend when the compositor ended an open session from outside (not after close()); it must
// not call back into the session while it runs.
#pragma once
#include <functional>
#include <string>

namespace corvane::platform {

using SessionOpened = std::function<void(bool ok, const std::string& error)>;
using SessionEnded = std::function<void(const std::string& reason)>;

class DesktopSession {
  public:
    virtual ~DesktopSession() = default;
    virtual void open(SessionOpened done) = 0;
    // Ends the session and what the backend holds for it; idempotent, also
    // for a session that never opened.
    virtual void close() = 0;
    // One handler; an empty function removes it.
    virtual void setEndedHandler(SessionEnded handler) = 0;
};

// For backends whose services need no session: opens at once, never ends.
class ImmediateDesktopSession : public DesktopSession {
  public:
    void open(SessionOpened done) override { done(true, {}); }
    void close() override {}
    void setEndedHandler(SessionEnded) override {}
};

} // namespace corvane::platform
