#include "app/core/settings.h"
#include "app/core/words.h"

#include <climits>

#include "app/core/app_log.h"
#include "app/core/nla_login.h"
#include "app/core/paths.h"

namespace corvane::app {

namespace remote_screen {

const std::vector<RemoteScreen>& allCases() {
    static const std::vector<RemoteScreen> cases{RemoteScreen::mirror, RemoteScreen::extend,
                                                 RemoteScreen::real};
    return cases;
}

std::string rawValue(RemoteScreen mode) {
    switch (mode) {
    case RemoteScreen::mirror:
        return "mirror";
    case RemoteScreen::extend:
        return "extend";
    case RemoteScreen::real:
        return "real";
    }
    return "mirror";
}

std::string title(RemoteScreen mode) {
    switch (mode) {
    case RemoteScreen::mirror:
        return words(Words::mirrorTitle);
    case RemoteScreen::extend:
        return "Separate extra screen";
    case RemoteScreen::real:
        return words(Words::asIsTitle);
    }
    return {};
}

std::optional<RemoteScreen> fromRaw(const std::string& raw) {
    for (RemoteScreen mode : allCases())
        if (rawValue(mode) == raw)
            return mode;
    return std::nullopt;
}

RemoteScreen from(const std::optional<std::string>& stored,
                  const std::optional<std::string>& legacyVirtual) {
    if (stored)
        if (auto mode = fromRaw(*stored))
            return *mode;
    if (!legacyVirtual)
        return RemoteScreen::mirror;
    if (*legacyVirtual == "never")
        return RemoteScreen::real;
    if (*legacyVirtual == "always")
        return RemoteScreen::extend;
    return RemoteScreen::mirror;
}

} // namespace remote_screen

std::optional<int> settingsPort(long long value) {
    if (value >= 1024 && value <= 65535)
        return static_cast<int>(value);
    return std::nullopt;
}

void registerSettingDefaults(UserDefaults& defaults) {
    defaults.registerDefaults({
        {Key::usagePing, true},
        {Key::adaptiveFps, true},
        {Key::port, 3389},
        {Key::scale, 0.75},
        {Key::fps, 30},
        {Key::cursor, false},
        {Key::auth, true},
        {Key::avc444, false},
        {Key::ctrlCmd, true},
        {Key::audio, true},
        {Key::clipboard, true},
        {Key::maxSize, 2073600},
        {Key::autoStart, true},
        {Key::hwenc, true},
        {Key::bitrate, 10},
        {Key::maxWidth, 0},
    });
}

bool removeLegacySecuritySetting(UserDefaults& defaults) {
    std::optional<std::string> stored = defaults.string(Key::sec);
    if (!stored)
        return false;
    bool logged = *stored == "rdp";
    if (logged)
        appendLogLine("the RDP (legacy) security setting was removed: using TLS");
    defaults.remove(Key::sec);
    defaults.sync();
    return logged;
}

namespace {

// Settings are read as stored; a value beyond int is clamped rather than
// wrapped so that the server's own range checks see an out-of-range number.
int clampedInt(long long value) {
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace

ServerSettings currentSettings(const UserDefaults& d, const LoginLoader& loadLogin) {
    ServerSettings s;
    s.port = settingsPort(d.integer(Key::port)).value_or(3389);
    s.scale = d.number(Key::scale);
    s.fps = clampedInt(d.integer(Key::fps));
    s.adaptiveFps = d.boolean(Key::adaptiveFps);
    s.cursor = d.boolean(Key::cursor);
    s.requireLogin = d.boolean(Key::auth);
    s.avc444 = d.boolean(Key::avc444);
    s.ctrlAsCmd = d.boolean(Key::ctrlCmd);
    s.audio = d.boolean(Key::audio);
    s.clipboard = d.boolean(Key::clipboard);
    s.maxPixels = d.integer(Key::maxSize);
    s.remoteScreen = remote_screen::from(d.string(Key::remoteScreen), d.string(Key::virtualMode));
    s.videoEncoder = d.boolean(Key::hwenc);
    s.bitrateMbps = clampedInt(d.integer(Key::bitrate));
    s.maxWidth = clampedInt(d.integer(Key::maxWidth));
    s.statsFile = paths::statsPath();
    s.allowedAccounts = d.string(Key::allowedAccounts).value_or("");
    s.adminGroup = d.string(Key::adminGroup).value_or("");
    s.connectionLog = paths::connectionLogPath();
    s.h264Profile = d.string(Key::h264Profile).value_or("baseline");
    s.h264GopSec = clampedInt(d.integer(Key::h264GopSec));
    s.sizeAlign = d.contains(Key::sizeAlign) ? clampedInt(d.integer(Key::sizeAlign)) : 2;
    s.nlaLogin = loadLogin ? loadLogin() : std::nullopt;
    return s;
}

ServerSettings currentSettings(const UserDefaults& defaults) {
    return currentSettings(defaults, [] { return NLALogin::load(); });
}

} // namespace corvane::app
