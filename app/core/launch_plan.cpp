#include "app/core/launch_plan.h"

#include <algorithm>
#include <charconv>

extern char** environ;

namespace corvane::app {

namespace {

std::string flag(bool on) {
    return on ? "1" : "0";
}

std::vector<std::string> launchArguments(const ServerSettings& s) {
    bool nla = s.requireLogin && s.nlaLogin.has_value();
    std::vector<std::string> arguments;
    arguments.push_back("/port:" + std::to_string(s.port));
    arguments.push_back(s.requireLogin ? "+auth" : "-auth");
    arguments.push_back("/sec:tls");
    if (nla)
        arguments.push_back("+sec-nla");
    arguments.push_back(s.avc444 ? "+gfx-avc444" : "-gfx-avc444");
    if (!s.cursor)
        arguments.push_back("+server-side-cursor");
    arguments.push_back("/max-connections:" + std::to_string(maxConnections));
    return arguments;
}

// Always with a decimal point: the server reads "0,75" as 0. printf would
// follow the process locale, which Qt sets to the user's.
std::string twoDecimals(double value) {
    char text[400]; // room for the widest double in fixed notation
    auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
    return error == std::errc() ? std::string(text, end) : std::string("0.00");
}

std::string h264ProfileName(const std::string& profile) {
    if (profile == "baseline" || profile == "main" || profile == "high")
        return profile;
    return "baseline";
}

std::string sizeAlignment(int align) {
    if (align == 4 || align == 8 || align == 16)
        return std::to_string(align);
    return "2";
}

// The server accepts 5...600 s; a value from outside the window is brought
// into that range rather than dropped (which would mean the server's 30 s).
std::string promptSeconds(int seconds) {
    return std::to_string(std::clamp(seconds, 5, 600));
}

// Minutes in the settings, seconds for the server; at least one minute, at
// most a day.
std::string awayIdleSeconds(int minutes) {
    return std::to_string(std::clamp(minutes, 1, 24 * 60) * 60);
}

void setOrRemove(Environment& env, const std::string& name, bool present,
                 const std::string& value) {
    if (present)
        env[name] = value;
    else
        env.erase(name);
}

// Single quotes unless every character is one a shell takes literally.
std::string shellWord(const std::string& word) {
    const std::string plain = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                              "_-+=/.,:@%";
    if (!word.empty() && word.find_first_not_of(plain) == std::string::npos)
        return word;
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

constexpr const char* kSecretVariable = "MAC_SHADOW_NLA";

} // namespace

LaunchPlan buildLaunchPlan(const ServerSettings& s, const Environment& baseEnvironment) {
    Environment env = baseEnvironment;
    env.try_emplace("WLOG_LEVEL", "INFO");
    env["MAC_SHADOW_SCALE"] = twoDecimals(s.scale);
    env["MAC_SHADOW_FPS"] = std::to_string(s.fps);
    env["MAC_SHADOW_ADAPTIVE_FPS"] = flag(s.adaptiveFps);
    env["MAC_SHADOW_CURSOR"] = flag(s.cursor);
    env["MAC_SHADOW_MAX_PIXELS"] = std::to_string(s.maxPixels);
    env["MAC_SHADOW_VIRTUAL"] = s.remoteScreen == RemoteScreen::real ? "never" : "auto";
    env["MAC_SHADOW_MIRROR"] = flag(s.remoteScreen == RemoteScreen::mirror);
    env["MAC_SHADOW_AUDIO"] = flag(s.audio);
    env["MAC_SHADOW_CLIPBOARD"] = flag(s.clipboard);
    env["FREERDP_VIDEOTOOLBOX_ENCODER"] = flag(s.videoEncoder);
    env["MAC_SHADOW_BITRATE_MBPS"] = std::to_string(s.bitrateMbps);
    setOrRemove(env, "MAC_SHADOW_MAX_WIDTH", s.maxWidth >= 1, std::to_string(s.maxWidth));
    env["MAC_SHADOW_CTRL_AS_CMD"] = flag(s.ctrlAsCmd);
    setOrRemove(env, "MAC_SHADOW_STATS_FILE", s.statsFile.has_value(), s.statsFile.value_or(""));
    env["MAC_SHADOW_H264_PROFILE"] = h264ProfileName(s.h264Profile);
    setOrRemove(env, "MAC_SHADOW_H264_GOP_SEC", s.h264GopSec >= 1, std::to_string(s.h264GopSec));
    env["MAC_SHADOW_SIZE_ALIGN"] = sizeAlignment(s.sizeAlign);
    setOrRemove(env, "MAC_SHADOW_NLA", s.requireLogin && s.nlaLogin.has_value(),
                s.nlaLogin.value_or(""));
    env["MAC_SHADOW_ALLOWED_USERS"] = s.allowedAccounts;
    setOrRemove(env, "MAC_SHADOW_ADMIN_GROUP", !s.adminGroup.empty(), s.adminGroup);
    setOrRemove(env, "MAC_SHADOW_CONNECTION_LOG", s.connectionLog.has_value(),
                s.connectionLog.value_or(""));
    env["MAC_SHADOW_ASK"] = connect_policy::rawValue(s.whenClientConnects);
    env["MAC_SHADOW_ASK_TIMEOUT"] = promptSeconds(s.promptSeconds);
    env["MAC_SHADOW_AWAY_IDLE"] = awayIdleSeconds(s.awayIdleMinutes);
    env["MAC_SHADOW_LOCK_ON_LEAVE"] = lock_on_leave::rawValue(s.lockOnLeave);
    env["MAC_SHADOW_PARENT_WATCH"] = "1";
    const std::string control = controlSocketPath(baseEnvironment);
    setOrRemove(env, "MAC_SHADOW_CONTROL", !control.empty(), control);
    return {launchArguments(s), std::move(env)};
}

std::string controlSocketPath(const Environment& environment) {
    if (auto it = environment.find("MAC_SHADOW_CONTROL");
        it != environment.end() && !it->second.empty())
        return it->second;
    auto runtime = environment.find("XDG_RUNTIME_DIR");
    if (runtime == environment.end() || runtime->second.empty() || runtime->second[0] != '/')
        return {};
    return runtime->second + "/corvane/control";
}

std::string launchPlanCommand(const LaunchPlan& plan, const Environment& base,
                              const std::string& serverPath) {
    std::string comment;
    std::vector<std::string> lines = {"env"};
    for (const auto& [name, value] : base)
        if (!plan.environment.contains(name))
            lines.push_back("-u " + shellWord(name));
    for (const auto& [name, value] : plan.environment) {
        auto before = base.find(name);
        if (before != base.end() && before->second == value)
            continue;
        if (name == kSecretVariable) {
            comment = std::string("# ") + kSecretVariable +
                      " (the stored Windows login) is left out: it is a secret\n";
            continue;
        }
        lines.push_back(shellWord(name + "=" + value));
    }
    std::string command = shellWord(serverPath);
    for (const std::string& argument : plan.arguments)
        command += " " + shellWord(argument);
    lines.push_back(command);
    std::string text = comment;
    for (size_t i = 0; i < lines.size(); ++i)
        text += (i == 0 ? "" : "  ") + lines[i] + (i + 1 < lines.size() ? " \\\n" : "\n");
    return text;
}

Environment processEnvironment() {
    Environment env;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text(*entry);
        size_t equals = text.find('=');
        if (equals == std::string::npos || equals == 0)
            continue;
        env.try_emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    return env;
}

} // namespace corvane::app
