// Presence on X11: the screen saver extension's idle time and state (an
// active screen saver counts as locked), merged with logind's hints where a
// session and a system bus are there. Locking asks logind first and falls
// back to activating the X screen saver (which locks where a locker is
// hooked to it, as with xss-lock or xscreensaver).
#pragma once
#include <mutex>

#include "../presence.h"
#include "x11_connection.h"

namespace corvane::platform::x11 {

class X11Presence : public Presence {
  public:
    PresenceReading read() override;
    bool lockSession(std::string& how) override;

  private:
    PresenceReading readScreenSaver();
    Connection conn_;
};

} // namespace corvane::platform::x11
