// The login that NLA clients use, taken from the environment once at start.
#include <cstdlib>
#include <cstring>

#include "core/lifecycle.h"
#include "base/log.h"

void mac_shadow_nla_configure(macShadowSubsystem* record) {
    record->nlaConfigured = false;
    const char* value = std::getenv("MAC_SHADOW_NLA");
    if (!value || !*value)
        return;
    if (mac_logic_nla_parse(value, record->nlaUser, sizeof record->nlaUser, record->nlaHash) == 1) {
        record->nlaConfigured = true;
        MAC_INFO("Corvane login for NLA clients: user '%s'", record->nlaUser);
    } else {
        std::memset(record->nlaUser, 0, sizeof record->nlaUser);
        std::memset(record->nlaHash, 0, sizeof record->nlaHash);
        MAC_ERROR("MAC_SHADOW_NLA is malformed (want user:32 hex digits): NLA logins will be "
                  "refused");
        const char* colon = std::strrchr(value, ':');
        const size_t userBytes = colon ? static_cast<size_t>(colon - value) : 0;
        if (userBytes >= sizeof record->nlaUser)
            MAC_ERROR("the NLA user name takes %zu bytes of UTF-8, at most %zu are allowed: "
                      "choose a shorter Windows login in Corvane's settings",
                      userBytes, sizeof record->nlaUser - 1);
    }
    // The hash is a secret: it must not stay where child processes or a
    // process listing can read it.
    unsetenv("MAC_SHADOW_NLA");
}
