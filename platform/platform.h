// The platform layer: one object per process giving every service the
// server and the application need from the operating system. The backend is
// chosen by the factory (factory.cpp, backend_choice.h): CORVANE_PLATFORM
// names it, or the desktop session decides (gnome on GNOME Wayland, x11
// where DISPLAY is set).
#pragma once
#include <memory>
#include <string>

#include "accounts.h"
#include "capture.h"
#include "cursor.h"
#include "display_config.h"
#include "displays.h"
#include "events.h"
#include "host_terms.h"
#include "input_prefs.h"
#include "pasteboard.h"
#include "power.h"
#include "presence.h"
#include "privacy.h"
#include "session.h"
#include "sound.h"

namespace corvane::platform {

class Platform {
  public:
    virtual ~Platform() = default;
    virtual std::string name() const = 0;
    virtual Displays& displays() = 0;
    virtual Privacy& privacy() = 0;
    virtual Accounts& accounts() = 0;
    virtual InputPrefs& inputPrefs() = 0;
    virtual EventPoster& events() = 0;
    virtual CursorSource& cursor() = 0;
    virtual Capture& capture() = 0;
    virtual Power& power() = 0;
    virtual Presence& presence() = 0;
    virtual Pasteboard& pasteboard() = 0;
    virtual Sound& sound() = 0;
    virtual DisplayConfig& displayConfig() = 0;
    // The session the services above need before they show the desktop or
    // take input (session.h).
    virtual DesktopSession& session() = 0;
    // The words log lines use for this computer and its display system.
    virtual const HostTerms& terms() const { return kGenericHostTerms; }
};

// The process-wide platform, created on first use by the factory.
Platform& current();
// Replaces the process-wide platform (tests); returns the previous one.
std::unique_ptr<Platform> replaceCurrent(std::unique_ptr<Platform> next);
// The name of the backend this process uses, or would use, without creating
// it: for words that differ between desktops. Empty when none fits.
std::string backendName();
// Creates a backend by name; null for an unknown or unavailable name.
std::unique_ptr<Platform> create(const std::string& name);

} // namespace corvane::platform
