#include "ask_settings.h"

#include "base/env.h"
#include "base/log.h"
#include "logic/mac_logic.h"

namespace mac_control {

namespace {

void refused(const char* name, const char* value, const char* fallback) {
    MAC_WARN("%s=\"%s\" is not a value this server takes: %s", name, value, fallback);
}

const char* lockWords(int32_t lock) {
    switch (lock) {
    case MAC_LOCK_ON:
        return "the screen locks when the last client leaves";
    case MAC_LOCK_OFF:
        return "the screen is not locked when the last client leaves";
    default:
        return "the screen locks when the last client leaves if it was locked or idle when the "
               "first came";
    }
}

} // namespace

AskSettings readAskSettings() {
    AskSettings s;
    const char* ask = mac_env::raw("MAC_SHADOW_ASK");
    if (!mac_logic_ask_mode(ask, &s.mode))
        refused("MAC_SHADOW_ASK", ask, "clients are let in without asking (allow)");
    const char* timeout = mac_env::raw("MAC_SHADOW_ASK_TIMEOUT");
    if (!mac_logic_seconds_value(timeout, MAC_ASK_TIMEOUT_MIN_S, MAC_ASK_TIMEOUT_MAX_S,
                                 MAC_ASK_TIMEOUT_DEFAULT_S, &s.timeoutSeconds))
        refused("MAC_SHADOW_ASK_TIMEOUT", timeout, "30 s (whole seconds, 5 to 600)");
    const char* away = mac_env::raw("MAC_SHADOW_AWAY_IDLE");
    if (!mac_logic_seconds_value(away, MAC_AWAY_IDLE_MIN_S, MAC_AWAY_IDLE_MAX_S,
                                 MAC_AWAY_IDLE_DEFAULT_S, &s.awayIdleSeconds))
        refused("MAC_SHADOW_AWAY_IDLE", away, "300 s (whole seconds, 1 to 86400)");
    const char* lock = mac_env::raw("MAC_SHADOW_LOCK_ON_LEAVE");
    if (!mac_logic_lock_on_leave_mode(lock, &s.lockOnLeave))
        refused("MAC_SHADOW_LOCK_ON_LEAVE", lock, "auto");
    return s;
}

std::string describeAskSettings(const AskSettings& s) {
    const std::string timeout = std::to_string(s.timeoutSeconds);
    const std::string away = std::to_string(s.awayIdleSeconds);
    std::string words;
    switch (s.mode) {
    case MAC_ASK_ASK:
        words = "ask the host first (MAC_SHADOW_ASK=ask; " + timeout + " s, then refuse)";
        break;
    case MAC_ASK_UNLESS_AWAY:
        words = "ask the host first, let in when nobody is at the desktop (locked or " + away +
                " s without input) (MAC_SHADOW_ASK=ask-unless-away; " + timeout +
                " s, then refuse, or allow when nobody is there)";
        break;
    default:
        words = "let in without asking (MAC_SHADOW_ASK=allow)";
    }
    return words + "; " + lockWords(s.lockOnLeave);
}

} // namespace mac_control
