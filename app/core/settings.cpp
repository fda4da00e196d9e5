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

namespace connect_policy {

const std::vector<ConnectPolicy>& allCases() {
    static const std::vector<ConnectPolicy> cases{ConnectPolicy::allow, ConnectPolicy::ask,
                                                  ConnectPolicy::askUnlessAway};
    return cases;
}

std::string rawValue(ConnectPolicy policy) {
    switch (policy) {
    case ConnectPolicy::allow:
        return "allow";
    case ConnectPolicy::ask:
        return "ask";
    case ConnectPolicy::askUnlessAway:
        return "ask-unless-away";
    }
    return "allow";
}

std::string title(ConnectPolicy policy) {
    switch (policy) {
    case ConnectPolicy::allow:
        return "Let it in";
    case ConnectPolicy::ask:
        return "Ask me";
    case ConnectPolicy::askUnlessAway:
        return "Ask me; let it in when nobody is at the desktop";
    }
    return {};
}

std::optional<ConnectPolicy> fromRaw(const std::string& raw) {
    for (ConnectPolicy policy : allCases())
        if (rawValue(policy) == raw)
            return policy;
    return std::nullopt;
}

ConnectPolicy from(const std::optional<std::string>& stored) {
    if (!stored)
        return ConnectPolicy::allow;
    return fromRaw(*stored).value_or(ConnectPolicy::ask);
}

} // namespace connect_policy

namespace lock_on_leave {

const std::vector<LockOnLeave>& allCases() {
    static const std::vector<LockOnLeave> cases{LockOnLeave::automatic, LockOnLeave::always,
                                                LockOnLeave::never};
    return cases;
}

std::string rawValue(LockOnLeave mode) {
    switch (mode) {
    case LockOnLeave::automatic:
        return "auto";
    case LockOnLeave::always:
        return "on";
    case LockOnLeave::never:
        return "off";
    }
    return "auto";
}

std::string title(LockOnLeave mode) {
    switch (mode) {
    case LockOnLeave::automatic:
        return "Automatic";
    case LockOnLeave::always:
        return "Always";
    case LockOnLeave::never:
        return "Never";
    }
    return {};
}

std::optional<LockOnLeave> fromRaw(const std::string& raw) {
    for (LockOnLeave mode : allCases())
        if (rawValue(mode) == raw)
            return mode;
    return std::nullopt;
}

} // namespace lock_on_leave

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
        {Key::awayIdleMinutes, 5},
        {Key::promptSeconds, 30},
    });
}

bool storeNewFileDefaults(UserDefaults& defaults) {
    if (defaults.hasStoredValues())
        return false;
    defaults.set(Key::whenClientConnects,
                 QString::fromStdString(connect_policy::rawValue(ConnectPolicy::ask)));
    defaults.sync();
    return true;
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
    s.whenClientConnects = connect_policy::from(d.string(Key::whenClientConnects));
    s.awayIdleMinutes = clampedInt(d.integer(Key::awayIdleMinutes));
    s.promptSeconds = clampedInt(d.integer(Key::promptSeconds));
    s.lockOnLeave = lock_on_leave::fromRaw(d.string(Key::lockOnLeave).value_or(""))
                        .value_or(LockOnLeave::automatic);
    s.nlaLogin = loadLogin ? loadLogin() : std::nullopt;
    return s;
}

ServerSettings currentSettings(const UserDefaults& defaults) {
    return currentSettings(defaults, [] { return NLALogin::load(); });
}

} // namespace corvane::app
