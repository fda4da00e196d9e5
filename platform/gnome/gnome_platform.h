// The gnome backend: a GNOME desktop on Wayland through mutter's
// remote-desktop and screen-cast interfaces on the session bus, with the
// picture over PipeWire. One remote-desktop session (GnomeSession) owns the
// picture, the input and the clipboard; every service reaches the desktop
// through it. Sound comes from PipeWire's PulseAudio service, passwords from
// PAM, as on X11.
#pragma once
#include "../linux/logind_session.h"
#include "../linux/pam_accounts.h"
#include "../platform.h"
#include "../pulse/pulse_sound.h"
#include "gnome_capture.h"
#include "gnome_display_config.h"
#include "gnome_events.h"
#include "gnome_pasteboard.h"
#include "gnome_power.h"
#include "gnome_services.h"
#include "gnome_session.h"
#include "gnome_virtual_monitors.h"

namespace corvane::platform::gnome {

class GnomePlatform : public Platform {
  public:
    GnomePlatform() = default;
    std::string name() const override { return "gnome"; }
    Displays& displays() override { return displays_; }
    Privacy& privacy() override { return privacy_; }
    Accounts& accounts() override { return accounts_; }
    InputPrefs& inputPrefs() override { return inputPrefs_; }
    EventPoster& events() override { return events_; }
    CursorSource& cursor() override { return cursor_; }
    Capture& capture() override { return capture_; }
    Power& power() override { return power_; }
    // GNOME declares idleness and the lock to logind.
    Presence& presence() override { return presence_; }
    Pasteboard& pasteboard() override { return pasteboard_; }
    Sound& sound() override { return sound_; }
    DisplayConfig& displayConfig() override { return displayConfig_; }
    DesktopSession& session() override { return session_; }
    const HostTerms& terms() const override;

  private:
    // The session first: every service below holds a reference to it.
    GnomeSession session_;
    GnomeVirtualMonitors virtualMonitors_{session_};
    GnomeCapture capture_{session_, virtualMonitors_};
    GnomeDisplays displays_{session_};
    GnomePrivacy privacy_;
    linuxos::PamAccounts accounts_;
    GnomeInputPrefs inputPrefs_;
    GnomeEvents events_{session_, virtualMonitors_};
    GnomeCursor cursor_{capture_};
    GnomePower power_{session_};
    linuxos::LogindPresence presence_;
    GnomePasteboard pasteboard_{session_};
    pulse::PulseSound sound_;
    GnomeDisplayConfig displayConfig_{session_, power_, virtualMonitors_};
};

} // namespace corvane::platform::gnome
