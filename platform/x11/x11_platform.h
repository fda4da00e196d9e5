// The X11 backend: the real desktop on Linux.
#pragma once
#include "../linux/pam_accounts.h"
#include "../platform.h"
#include "../pulse/pulse_sound.h"
#include "x11_capture.h"
#include "x11_connection.h"
#include "x11_cursor.h"
#include "x11_display_config.h"
#include "x11_events.h"
#include "x11_pasteboard.h"
#include "x11_power.h"
#include "x11_presence.h"

namespace corvane::platform::x11 {

class X11Displays : public Displays {
  public:
    bool mainDisplay(MainDisplayInfo& out) override;

  private:
    Connection conn_;
};

// X11 has no privacy permissions. Screen access means the display can be
// opened and its pixels read; input trust means the XTest extension is there.
// There is nothing to reset.
class X11Privacy : public Privacy {
  public:
    bool screenAccess(bool request) override;
    bool accessibilityTrusted(bool prompt) override;
    bool reset(std::string_view service, std::string_view bundleId, std::string& message) override;
    bool resetSupported() const override { return false; }
    // X keeps no privacy panes: the message names what the server needs.
    bool openSettings(std::string_view service, std::string& message) override;

  private:
    Connection conn_;
};

// The double-click interval comes from the X resource "multiClickTime"
// (the toolkits' shared setting); 400 ms when it is not set.
class X11InputPrefs : public InputPrefs {
  public:
    double doubleClickSeconds() override;

  private:
    Connection conn_;
};

class X11Platform : public Platform {
  public:
    // Every service keeps its own connection and runs on its own thread;
    // Xlib's process-wide state (extension records, error handling) needs
    // its locks, which must be switched on before the first connection.
    X11Platform() { XInitThreads(); }
    std::string name() const override { return "x11"; }
    Displays& displays() override { return displays_; }
    Privacy& privacy() override { return privacy_; }
    Accounts& accounts() override { return accounts_; }
    InputPrefs& inputPrefs() override { return inputPrefs_; }
    EventPoster& events() override { return events_; }
    CursorSource& cursor() override { return cursor_; }
    Capture& capture() override { return capture_; }
    Power& power() override { return power_; }
    Presence& presence() override { return presence_; }
    Pasteboard& pasteboard() override { return pasteboard_; }
    Sound& sound() override { return sound_; }
    DisplayConfig& displayConfig() override { return displayConfig_; }
    // Each X11 service keeps its own connection: there is no session to open.
    DesktopSession& session() override { return session_; }
    const HostTerms& terms() const override {
        static constexpr HostTerms kX11 = {
            "this computer",
            "this computer's",
            "the X server",
            "error",
            "screen position",
            "the X server has no RandR 1.5 monitors to make virtual displays with",
            "the X screen cannot hold the virtual display (its RandR maximum size)",
            "programs started on it draw text and widgets at 2x (Xft.dpi 192) and the cursor "
            "twice its size",
            "the X server",
            "the display readable",
            "a local account",
        };
        return kX11;
    }

  private:
    X11Displays displays_;
    X11Privacy privacy_;
    linuxos::PamAccounts accounts_;
    X11InputPrefs inputPrefs_;
    X11Events events_;
    X11Cursor cursor_;
    X11Capture capture_;
    X11Power power_;
    X11Presence presence_;
    X11Pasteboard pasteboard_;
    pulse::PulseSound sound_;
    X11DisplayConfig displayConfig_{power_};
    ImmediateDesktopSession session_;
};

} // namespace corvane::platform::x11
