// The small services of the gnome backend: display sizes, privacy, input
// preferences and the cursor, each answered from the compositor's session
// or the session bus.
#pragma once
#include "../cursor.h"
#include "../displays.h"
#include "../input_prefs.h"
#include "../privacy.h"
#include "gnome_capture.h"
#include "gnome_session.h"

namespace corvane::platform::gnome {

// The main display is the monitor the session records; asking for it opens
// the session (bounded) when none is open.
class GnomeDisplays : public Displays {
  public:
    explicit GnomeDisplays(GnomeSession& session) : session_(session) {}
    bool mainDisplay(MainDisplayInfo& out) override;

  private:
    GnomeSession& session_;
};

// Whether a name has an owner on the session bus (bounded).
bool gnomeNameOnBus(const char* name);

// Recorded monitor geometry, opening the session and waiting within a bound
// when it is not open yet.
std::optional<GnomeStreamInfo> gnomeRecordedMonitor(GnomeSession& session);

// mutter's screen-cast and remote-desktop interfaces ask no permission of a
// program on the user's own session bus: access means the interface is
// there. There is nothing to reset and no settings pane for it.
class GnomePrivacy : public Privacy {
  public:
    bool screenAccess(bool request) override;
    bool accessibilityTrusted(bool prompt) override;
    bool reset(std::string_view service, std::string_view bundleId, std::string& message) override;
    bool resetSupported() const override { return false; }
    bool openSettings(std::string_view service, std::string& message) override;
};

// GNOME's double-click time (org.gnome.desktop.peripherals.mouse
// double-click, through gsettings); 400 ms when it cannot be read.
class GnomeInputPrefs : public InputPrefs {
  public:
    double doubleClickSeconds() override;
};

// The cursor from the session stream's metadata. The seed changes with the
// shape and with showing or hiding it (GnomeCursorSerial); -1 while no
// stream runs or before its first shape.
class GnomeCursor : public CursorSource {
  public:
    explicit GnomeCursor(GnomeCapture& capture) : capture_(capture) {}
    int32_t seed() override;
    bool current(CursorImage& out) override;

  private:
    GnomeCapture& capture_;
};

} // namespace corvane::platform::gnome
