// The server settings kept in the user defaults, and the record read from
// them before every server start.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/user_defaults.h"

namespace corvane::app {

namespace Key {
inline constexpr const char* port = "port";
inline constexpr const char* scale = "scale";
inline constexpr const char* fps = "fps";
inline constexpr const char* adaptiveFps = "adaptiveFps";
inline constexpr const char* cursor = "cursorInVideo";
inline constexpr const char* auth = "requireLogin";
inline constexpr const char* sec = "security";
inline constexpr const char* avc444 = "avc444";
inline constexpr const char* ctrlCmd = "ctrlAsCmd";
inline constexpr const char* audio = "audio";
inline constexpr const char* clipboard = "clipboard";
inline constexpr const char* maxSize = "maxPixels";
inline constexpr const char* virtualMode = "virtualDisplays";
inline constexpr const char* remoteScreen = "remoteScreen";
inline constexpr const char* autoStart = "autoStart";
inline constexpr const char* hwenc = "hardwareEncoder";
inline constexpr const char* bitrate = "bitrateMbps";
inline constexpr const char* maxWidth = "maxWidth";
inline constexpr const char* h264Profile = "h264Profile";
inline constexpr const char* h264GopSec = "h264GopSec";
inline constexpr const char* sizeAlign = "sizeAlign";
inline constexpr const char* usagePing = "usagePing";
inline constexpr const char* allowedAccounts = "allowedAccounts";
inline constexpr const char* adminGroup = "administratorsGroup";
inline constexpr const char* whenClientConnects = "whenClientConnects";
inline constexpr const char* awayIdleMinutes = "awayIdleMinutes";
inline constexpr const char* promptSeconds = "promptSeconds";
inline constexpr const char* lockOnLeave = "lockOnLeave";
} // namespace Key

// How the remote desktop relates to this computer's own screens.
enum class RemoteScreen { mirror, extend, real };

namespace remote_screen {
const std::vector<RemoteScreen>& allCases();
std::string rawValue(RemoteScreen mode);
std::string title(RemoteScreen mode);
std::optional<RemoteScreen> fromRaw(const std::string& raw);
// The stored mode, else the one the legacy "virtualDisplays" key implies.
RemoteScreen from(const std::optional<std::string>& stored,
                  const std::optional<std::string>& legacyVirtual);
} // namespace remote_screen

// What happens when a client has logged in: it gets the desktop at once, or
// the person at the desktop is asked first (and, in the third mode, only
// while someone is there).
enum class ConnectPolicy { allow, ask, askUnlessAway };

namespace connect_policy {
const std::vector<ConnectPolicy>& allCases();
// The stored value, which is also the server's (MAC_SHADOW_ASK).
std::string rawValue(ConnectPolicy policy);
std::string title(ConnectPolicy policy);
std::optional<ConnectPolicy> fromRaw(const std::string& raw);
// The stored choice: none is "Let it in" (files from before the question);
// one this version cannot read asks, the side that gives nothing away.
ConnectPolicy from(const std::optional<std::string>& stored);
} // namespace connect_policy

// "Lock the screen when the last client leaves".
enum class LockOnLeave { automatic, always, never };

namespace lock_on_leave {
const std::vector<LockOnLeave>& allCases();
// The stored value, which is also the server's (MAC_SHADOW_LOCK_ON_LEAVE).
std::string rawValue(LockOnLeave mode);
std::string title(LockOnLeave mode);
std::optional<LockOnLeave> fromRaw(const std::string& raw);
} // namespace lock_on_leave

struct ServerSettings {
    int port = 3389;
    double scale = 0.75;
    int fps = 30;
    bool adaptiveFps = true;
    bool cursor = false;
    bool requireLogin = true;
    std::optional<std::string> nlaLogin;
    bool avc444 = false;
    bool ctrlAsCmd = true;
    bool audio = true;
    bool clipboard = true;
    long long maxPixels = 2073600;
    RemoteScreen remoteScreen = RemoteScreen::mirror;
    bool videoEncoder = true;
    int bitrateMbps = 10;
    int maxWidth = 0;
    std::optional<std::string> statsFile;
    // Who may log in with a password: names and @groups, comma-separated;
    // empty = the owner and the administrators group (adminGroup, empty =
    // the system's usual one).
    std::string allowedAccounts;
    std::string adminGroup;
    std::optional<std::string> connectionLog;
    std::string h264Profile = "baseline";
    int h264GopSec = 0;
    int sizeAlign = 2;
    // A settings file from before the question existed has no choice stored
    // and keeps letting clients in; a new one is given "ask" at start.
    ConnectPolicy whenClientConnects = ConnectPolicy::allow;
    int awayIdleMinutes = 5;
    int promptSeconds = 30;
    LockOnLeave lockOnLeave = LockOnLeave::automatic;

    bool operator==(const ServerSettings&) const = default;
};

// The port when it lies in 1024...65535, else nothing.
std::optional<int> settingsPort(long long value);

// Registers the defaults every read falls back to (never written to disk).
void registerSettingDefaults(UserDefaults& defaults);
// A settings file with nothing in it yet (the first start) gets the choices
// new users start with: "Ask me" when a client connects. Returns whether it
// stored them; an existing file is left as it is.
bool storeNewFileDefaults(UserDefaults& defaults);
// Drops the removed "security" setting, logging when it had asked for the
// legacy RDP security layer. Returns whether a log line was written.
bool removeLegacySecuritySetting(UserDefaults& defaults);

using LoginLoader = std::function<std::optional<std::string>()>;
// Reads every setting fresh; `loadLogin` gives the stored NLA login entry.
ServerSettings currentSettings(const UserDefaults& defaults, const LoginLoader& loadLogin);
// The same with the login from the system's secret store.
ServerSettings currentSettings(const UserDefaults& defaults);

} // namespace corvane::app
