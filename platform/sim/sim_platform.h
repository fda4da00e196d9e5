// Deterministic stand-in for the desktop, for tests. State is set by the test
// in-process, or for a child process through the environment:
//   CORVANE_SIM_MAIN_DISPLAY   "WxH" or "WxH@S": main display pixels and scale
//                              (points = pixels / S); default 1920x1080@1
//   CORVANE_SIM_PRIVACY_DB     path of the privacy database file (see
//                              sim_privacy.h); without it both are granted
//   CORVANE_SIM_DOUBLE_CLICK_MS double-click interval; default 500
//   CORVANE_SIM_ACCOUNTS       local accounts "user:password,..." (sim_accounts.h)
#pragma once
#include <mutex>

#include "../platform.h"
#include "sim_accounts.h"
#include "sim_capture.h"
#include "sim_cursor.h"
#include "sim_display_config.h"
#include "sim_events.h"
#include "sim_pasteboard.h"
#include "sim_power.h"
#include "sim_presence.h"
#include "sim_privacy.h"
#include "sim_session.h"
#include "sim_sound.h"

namespace corvane::platform::sim {

class SimDisplays : public Displays {
  public:
    bool mainDisplay(MainDisplayInfo& out) override;
    // Sets the main display: pixel size and its integer or fractional scale.
    void setMain(int32_t pixelWidth, int32_t pixelHeight, double scale);
    void setAvailable(bool available);

  private:
    std::mutex mutex_;
    MainDisplayInfo main_{1920, 1080, 1920, 1080};
    bool available_ = true;
};

class SimInputPrefs : public InputPrefs {
  public:
    double doubleClickSeconds() override;
    void setDoubleClickSeconds(double seconds);

  private:
    std::mutex mutex_;
    double seconds_ = 0.5;
};

class SimPlatform : public Platform {
  public:
    SimPlatform();
    // Reads the CORVANE_SIM_* variables described above.
    static std::unique_ptr<SimPlatform> fromEnvironment();

    std::string name() const override { return "sim"; }
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
    DesktopSession& session() override { return session_; }
    // The sim stands in for the Mac and speaks of it.
    const HostTerms& terms() const override;

    SimDisplays& simDisplays() { return displays_; }
    SimPrivacy& simPrivacy() { return privacy_; }
    SimAccounts& simAccounts() { return accounts_; }
    SimInputPrefs& simInputPrefs() { return inputPrefs_; }
    SimEvents& simEvents() { return events_; }
    SimCursor& simCursor() { return cursor_; }
    SimCapture& simCapture() { return capture_; }
    SimPower& simPower() { return power_; }
    SimPresence& simPresence() { return presence_; }
    SimPasteboard& simPasteboard() { return pasteboard_; }
    SimSound& simSound() { return sound_; }
    SimDisplayConfig& simDisplayConfig() { return displayConfig_; }
    SimDesktopSession& simSession() { return session_; }

  private:
    SimDisplays displays_;
    SimPrivacy privacy_;
    SimAccounts accounts_;
    SimInputPrefs inputPrefs_;
    SimEvents events_;
    SimCursor cursor_;
    SimCapture capture_;
    SimPower power_;
    SimPresence presence_;
    SimPasteboard pasteboard_;
    SimSound sound_;
    SimDisplayConfig displayConfig_{displays_, power_, capture_};
    SimDesktopSession session_;
};

} // namespace corvane::platform::sim
