// The host's settings for clients that have logged in: whether to ask
// first (MAC_SHADOW_ASK), the countdown (MAC_SHADOW_ASK_TIMEOUT), the idle
// time after which nobody is at the desktop (MAC_SHADOW_AWAY_IDLE) and the
// lock when the last client leaves (MAC_SHADOW_LOCK_ON_LEAVE). A value the
// server does not take is logged and the default stands.
#pragma once
#include <cstdint>
#include <string>

namespace mac_control {

struct AskSettings {
    int32_t mode = 0; // MAC_ASK_*
    uint32_t timeoutSeconds = 30;
    uint32_t awayIdleSeconds = 300;
    int32_t lockOnLeave = 0; // MAC_LOCK_*
};

// Reads the four variables (logging each value it refuses).
AskSettings readAskSettings();
// The start-up line's words: "ask the host first (30 s, then refuse); ...".
std::string describeAskSettings(const AskSettings& settings);

} // namespace mac_control
