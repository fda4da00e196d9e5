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

    bool operator==(const ServerSettings&) const = default;
};

// The port when it lies in 1024...65535, else nothing.
std::optional<int> settingsPort(long long value);

// Registers the defaults every read falls back to (never written to disk).
void registerSettingDefaults(UserDefaults& defaults);
// Drops the removed "security" setting, logging when it had asked for the
// legacy RDP security layer. Returns whether a log line was written.
bool removeLegacySecuritySetting(UserDefaults& defaults);

using LoginLoader = std::function<std::optional<std::string>()>;
// Reads every setting fresh; `loadLogin` gives the stored NLA login entry.
ServerSettings currentSettings(const UserDefaults& defaults, const LoginLoader& loadLogin);
// The same with the login from the system's secret store.
ServerSettings currentSettings(const UserDefaults& defaults);

} // namespace corvane::app
