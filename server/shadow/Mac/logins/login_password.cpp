// Password logins: lockout checks (the address's, then the account's), the
// account check, one-second waits on refusal and the lockouts that grow with
// wrong passwords.
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include <freerdp/error.h>
#include <freerdp/settings.h>

#include "capture/mac_capture.h"
#include "base/log.h"
#include "connection_log.h"
#include "logins.h"
#include "platform/platform.h"

namespace {

constexpr const char* kFn = "mac_shadow_authenticate";
constexpr size_t kLogText = 256; // client texts are cut to this in log lines

// A password no account has: fresh random bytes for every check.
std::string unguessablePassword() {
    std::random_device random;
    std::string password;
    for (int i = 0; i < 4; ++i)
        password += std::to_string(random());
    return password;
}

size_t lengthOf(const char* text) {
    return text ? std::strlen(text) : 0;
}

void logAttempt(rdpShadowClient* client, const char* address, const char* user, const char* domain,
                const char* password) {
    if (!mac_log_active(WLOG_INFO))
        return;
    const rdpSettings* settings = client->context.settings;
    auto setting = [settings](FreeRDP_Settings_Keys_UInt32 key) -> unsigned {
        return settings ? freerdp_settings_get_uint32(settings, key) : 0;
    };
    char shownUser[kLogText], shownDomain[kLogText];
    mac_login::printable(user, shownUser, sizeof shownUser);
    mac_login::printable(domain, shownDomain, sizeof shownDomain);
    MAC_LOG_FN(WLOG_INFO, kFn,
               "login attempt from %s: user '%s' (%zu chars), domain '%s', password %zu chars, "
               "client os %u.%u build %u, requested protocols 0x%x",
               address, shownUser, lengthOf(user), shownDomain, lengthOf(password),
               setting(FreeRDP_OsMajorType), setting(FreeRDP_OsMinorType),
               setting(FreeRDP_ClientBuild), setting(FreeRDP_RequestedProtocols));
}

int refuseLocked(rdpShadowClient* client, const char* address, uint64_t remainingMs,
                 bool tableFull) {
    const auto seconds = static_cast<unsigned long long>(mac_logic_seconds_up(remainingMs));
    if (tableFull)
        MAC_LOG_FN(WLOG_WARN, kFn,
                   "login from %s refused: every lockout entry holds a lock, so a new address "
                   "counts as locked for another %llu s",
                   address, seconds);
    else
        MAC_LOG_FN(WLOG_WARN, kFn,
                   "login from %s refused: locked out for another %llu s after wrong passwords",
                   address, seconds);
    mac_login::refusalWait();
    mac_login::setErrorInfo(client, ERRINFO_SERVER_INSUFFICIENT_PRIVILEGES);
    return -1;
}

int refuseNoPassword(rdpShadowClient* client, const char* address, const char* account) {
    mac_login::refusalWait();
    MAC_LOG_FN(WLOG_WARN, kFn,
               "login from %s as '%s': refused, the client sent no password. (Windows App on "
               "Windows: it sends the signed-in Windows account without one; edit the PC > "
               "Saved credential > Add, with %s name and password)",
               address, account, corvane::platform::current().terms().account);
    mac_login::setErrorInfo(client, ERRINFO_SERVER_FRESH_CREDENTIALS_REQUIRED);
    return -1;
}

// The answer and the wait of a wrong password: whether the account exists or
// not is not told.
int refuseAccountLocked(rdpShadowClient* client, const char* address, const char* account,
                        uint64_t remainingMs) {
    mac_login::refusalWait();
    MAC_LOG_FN(WLOG_WARN, kFn,
               "login from %s as '%s' refused: the account is locked for another %llu s after "
               "wrong passwords from several addresses",
               address, account, static_cast<unsigned long long>(mac_logic_seconds_up(remainingMs)));
    mac_login::setErrorInfo(client, ERRINFO_SERVER_INSUFFICIENT_PRIVILEGES);
    return -1;
}

void countAgainstAccount(macShadowSubsystem* record, const char* account, const char* shown) {
    const uint64_t lock = mac_login::countAccountFailure(record, account);
    if (lock > 0)
        MAC_LOG_FN(WLOG_WARN, kFn,
                   "account '%s': %d wrong passwords within %u minutes from any address: its "
                   "password logins are refused for %llu s, except from addresses it logged in "
                   "from before",
                   shown, MAC_ACCOUNT_FAILURES, MAC_ACCOUNT_WINDOW_MS / 60000,
                   static_cast<unsigned long long>(lock / 1000));
}

// A wrong password, or an account the rule does not allow (notAllowed): the
// same wait, answer and count, so the client cannot tell them apart.
int refuseWrong(macShadowSubsystem* record, rdpShadowClient* client, const char* address,
                const char* account, const char* shownAccount, int result,
                bool notAllowed = false) {
    mac_login::refusalWait();
    int32_t failures = 0;
    const uint64_t lockout = mac_login::countFailure(record, address, &failures);
    mac_connection_log_login(account, address, "password",
                             notAllowed     ? "not-allowed"
                             : result < 0   ? "service-unavailable"
                                            : "wrong-password",
                             lockout / 1000);
    if (notAllowed) {
        char locked[64] = "";
        if (lockout > 0)
            std::snprintf(locked, sizeof locked, ": locked out for %llu s",
                          static_cast<unsigned long long>(lockout / 1000));
        MAC_LOG_FN(WLOG_WARN, kFn,
                   "login from %s as '%s': refused, not an allowed account (password logins are "
                   "for %s) (%d in a row)%s",
                   address, shownAccount, record->allowedRuleText, failures, locked);
    } else if (result < 0)
        MAC_LOG_FN(WLOG_ERROR, kFn, "login from %s as '%s': could not ask the directory service",
                   address, shownAccount);
    else if (lockout > 0)
        MAC_LOG_FN(WLOG_WARN, kFn,
                   "login from %s as '%s': wrong password (%d in a row): locked out for %llu s",
                   address, shownAccount, failures, static_cast<unsigned long long>(lockout / 1000));
    else
        MAC_LOG_FN(WLOG_WARN, kFn, "login from %s as '%s': wrong password (%d)", address,
                   shownAccount, failures);
    if (result == 0)
        countAgainstAccount(record, account, shownAccount);
    mac_login::setErrorInfo(client, ERRINFO_SERVER_INSUFFICIENT_PRIVILEGES);
    return -1;
}

} // namespace

namespace mac_login {

int authenticate(macShadowSubsystem* record, rdpShadowClient* client, const char* address,
                 const char* user, const char* domain, const char* password) {
    char account[MAC_ACCOUNT_SIZE];
    const bool usable = mac_logic_auth_account(user, account, sizeof account) == 1;
    if (!usable)
        account[0] = '\0';
    char shownAccount[kLogText];
    printable(account, shownAccount, sizeof shownAccount);

    auto audit = [&](const char* result, uint64_t lockMs) {
        mac_connection_log_login(account, address, "password", result,
                                 mac_logic_seconds_up(lockMs));
    };
    bool hasFailures = false;
    const uint64_t remaining = lockRemaining(record, address, &hasFailures);
    if (remaining > 0) {
        audit("locked", remaining);
        return refuseLocked(client, address, remaining, !hasFailures);
    }

    logAttempt(client, address, user, domain, password);
    if (!password || !password[0]) {
        audit("no-password", 0);
        return refuseNoPassword(client, address, shownAccount);
    }

    const uint64_t accountRemaining = accountLockRemaining(record, account, address);
    if (accountRemaining > 0) {
        audit("locked", accountRemaining);
        return refuseAccountLocked(client, address, shownAccount, accountRemaining);
    }
    // Before the password check: an account that may not log in never
    // learns whether its password was right. It still waits for a check
    // that fails, so that the answer takes as long as a wrong password's
    // and the time does not tell which accounts are allowed.
    char admittedBy[MAC_ACCOUNT_SIZE + 1];
    if (usable && !accountAllowed(record, account, admittedBy, sizeof admittedBy)) {
        mac_auth_verify(account, unguessablePassword().c_str());
        return refuseWrong(record, client, address, account, shownAccount, 0, true);
    }
    const int result = usable ? mac_auth_verify(account, password) : 0;
    if (result != 1)
        return refuseWrong(record, client, address, account, shownAccount, result);
    clearFailures(record, address, account);
    audit("ok", 0);
    mac_connection_log_session_begin(client, account, address, "password");
    char shownBy[kLogText];
    printable(admittedBy, shownBy, sizeof shownBy);
    MAC_LOG_FN(WLOG_INFO, kFn, "login from %s as '%s': ok (allowed as '%s')", address,
               shownAccount, shownBy);
    return 1;
}

} // namespace mac_login

extern "C" int mac_shadow_authenticate(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                                       const char* user, const char* domain, const char* password) {
    if (!subsystem || !client)
        return -1;
    char address[64];
    mac_login::clientAddress(client, address, sizeof address);
    return mac_login::authenticate(reinterpret_cast<macShadowSubsystem*>(subsystem), client,
                                   address, user, domain, password);
}
