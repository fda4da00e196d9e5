// NLA logins: the NTLM layer asks for the user's NTLMv2 key (derived from
// the stored NT hash); a logon that follows counts as a good login, a
// connection that ends without one as a wrong password.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include <winpr/ntlm.h>
#include <winpr/string.h>

#include "server/shadow/ext/peer_hooks.h"
#include "base/log.h"
#include "connection_log.h"
#include "logins.h"

namespace {

constexpr const char* kHashFn = "mac_shadow_nla_hash";
constexpr INT32 kAttemptNone = 0;
constexpr INT32 kAttemptHashRequested = 1;
constexpr INT32 kAttemptLoggedOn = 2;
constexpr size_t kLogText = 256;

std::atomic<psPeerLogon> gPreviousLogon{nullptr};
std::atomic<bool> gUnsetWarned{false};

// One field of the client's identity as UTF-8; empty when absent, empty or
// not convertible.
std::string identityText(const UINT16* field, ULONG length, bool unicode) {
    if (!field || length == 0)
        return {};
    if (!unicode) {
        const auto* bytes = reinterpret_cast<const char*>(field);
        return std::string(bytes, strnlen(bytes, length));
    }
    size_t size = 0;
    char* utf8 = ConvertWCharNToUtf8Alloc(reinterpret_cast<const WCHAR*>(field), length, &size);
    if (!utf8)
        return {};
    std::string text(utf8, strnlen(utf8, size));
    std::free(utf8);
    return text;
}

bool isUnicode(const SEC_WINNT_AUTH_IDENTITY* identity) {
    return (identity->Flags & SEC_WINNT_AUTH_IDENTITY_UNICODE) != 0;
}

// The NTLMv2 key from the stored hash and the identity exactly as sent.
bool computeKey(const macShadowSubsystem* record, const SEC_WINNT_AUTH_IDENTITY* identity,
                BYTE* key) {
    BYTE hash[MAC_NLA_HASH_SIZE];
    std::memcpy(hash, record->nlaHash, sizeof hash);
    BOOL ok;
    if (isUnicode(identity))
        ok = NTOWFv2FromHashW(hash, reinterpret_cast<LPWSTR>(identity->User),
                              identity->UserLength * 2, reinterpret_cast<LPWSTR>(identity->Domain),
                              identity->DomainLength * 2, key);
    else
        ok = NTOWFv2FromHashA(hash, reinterpret_cast<LPSTR>(identity->User), identity->UserLength,
                              reinterpret_cast<LPSTR>(identity->Domain), identity->DomainLength,
                              key);
    SecureZeroMemory(hash, sizeof hash);
    return ok == TRUE;
}

SECURITY_STATUS refuseLocked(rdpShadowClient* client, const char* address, uint64_t remaining) {
    shadow_ext_client_set_nla_attempt(client, kAttemptNone); // not counted again at the end
    MAC_LOG_FN(WLOG_WARN, kHashFn,
               "nla login from %s refused: locked out for another %llu s after wrong passwords",
               address, static_cast<unsigned long long>(mac_logic_seconds_up(remaining)));
    mac_login::refusalWait();
    return SEC_E_LOGON_DENIED;
}

SECURITY_STATUS refuseUnset(const char* address, const char* shownUser) {
    if (!gUnsetWarned.exchange(true))
        MAC_LOG_FN(WLOG_WARN, kHashFn,
                   "nla login from %s as '%s': refused, no Corvane login is set (Settings > "
                   "Windows login)",
                   address, shownUser);
    return SEC_E_LOGON_DENIED;
}

// Steps 4 to 8 of a hash request, once the attempt is marked and logged.
SECURITY_STATUS answerHashRequest(macShadowSubsystem* record, rdpShadowClient* client,
                                  const char* address, const std::string& user,
                                  const SEC_WINNT_AUTH_IDENTITY* identity, BYTE* key) {
    bool hasFailures = false;
    uint64_t remaining = mac_login::lockRemaining(record, address, &hasFailures);
    if (remaining == 0)
        remaining = mac_login::accountLockRemaining(record, mac_login::kNlaAccount, address);
    if (remaining > 0)
        return refuseLocked(client, address, remaining);

    char shownUser[kLogText];
    mac_login::printable(user.c_str(), shownUser, sizeof shownUser);
    if (!record->nlaConfigured)
        return refuseUnset(address, shownUser);

    char account[MAC_ACCOUNT_SIZE];
    const bool usable = mac_logic_auth_account(user.c_str(), account, sizeof account) == 1;
    if (!usable || !mac_logic_nla_user_matches(account, record->nlaUser)) {
        if (hasFailures)
            mac_login::refusalWait();
        MAC_LOG_FN(WLOG_WARN, kHashFn,
                   "nla login from %s as '%s': unknown user (the Corvane login is '%s')", address,
                   shownUser, record->nlaUser);
        return SEC_E_LOGON_DENIED;
    }
    if (hasFailures)
        mac_login::refusalWait();
    return computeKey(record, identity, key) ? SEC_E_OK : SEC_E_LOGON_DENIED;
}

} // namespace

extern "C" SECURITY_STATUS mac_shadow_nla_hash(void* peerArg,
                                               const SEC_WINNT_AUTH_IDENTITY* identity,
                                               const SecBuffer* ntProofValue, const BYTE* randKey,
                                               const BYTE* mic, const SecBuffer* micValue,
                                               BYTE* ntlmV2Key) {
    auto* peer = static_cast<freerdp_peer*>(peerArg);
    auto* client = peer ? reinterpret_cast<rdpShadowClient*>(peer->context) : nullptr;
    auto* record = client ? reinterpret_cast<macShadowSubsystem*>(client->subsystem) : nullptr;
    if (!record || !identity || !ntlmV2Key)
        return SEC_E_INTERNAL_ERROR;

    char address[64];
    mac_login::clientAddress(client, address, sizeof address);
    shadow_ext_client_set_nla_attempt(client, kAttemptHashRequested);

    const bool unicode = isUnicode(identity);
    const std::string user = identityText(identity->User, identity->UserLength, unicode);
    const std::string domain = identityText(identity->Domain, identity->DomainLength, unicode);
    if (mac_log_active(WLOG_INFO)) {
        char shownUser[kLogText], shownDomain[kLogText];
        mac_login::printable(user.c_str(), shownUser, sizeof shownUser);
        mac_login::printable(domain.c_str(), shownDomain, sizeof shownDomain);
        MAC_LOG_FN(WLOG_INFO, kHashFn,
                   "nla login attempt from %s: user '%s' (%zu chars), domain '%s'", address,
                   shownUser, user.size(), shownDomain);
    }
    return answerHashRequest(record, client, address, user, identity, ntlmV2Key);
}

extern "C" BOOL mac_shadow_peer_logon(freerdp_peer* peer, const SEC_WINNT_AUTH_IDENTITY* identity,
                                      BOOL automatic) {
    auto* client = peer ? reinterpret_cast<rdpShadowClient*>(peer->context) : nullptr;
    if (client && shadow_ext_client_nla_attempt(client) == kAttemptHashRequested) {
        shadow_ext_client_set_nla_attempt(client, kAttemptLoggedOn);
        if (auto* record = reinterpret_cast<macShadowSubsystem*>(client->subsystem)) {
            char address[64];
            mac_login::clientAddress(client, address, sizeof address);
            mac_login::clearFailures(record, address, mac_login::kNlaAccount);
            MAC_INFO("nla login from %s as '%s': ok", address, record->nlaUser);
            mac_connection_log_login(record->nlaUser, address, "nla", "ok", 0);
            mac_connection_log_session_begin(client, record->nlaUser, address, "nla");
        }
    }
    const psPeerLogon previous = gPreviousLogon.load();
    return previous ? previous(peer, identity, automatic) : TRUE;
}

extern "C" BOOL mac_shadow_peer_hook_logon(freerdp_peer* peer) {
    if (!peer)
        return FALSE;
    psPeerLogon current = peer->Logon;
    if (current && current != mac_shadow_peer_logon) {
        psPeerLogon none = nullptr;
        gPreviousLogon.compare_exchange_strong(none, current);
    }
    peer->Logon = mac_shadow_peer_logon;
    return TRUE;
}

extern "C" void mac_shadow_peer_end(rdpShadowSubsystem* subsystem, rdpShadowClient* client) {
    if (!subsystem || !client || shadow_ext_client_nla_attempt(client) != kAttemptHashRequested)
        return;
    shadow_ext_client_set_nla_attempt(client, kAttemptNone);
    char address[64];
    mac_login::clientAddress(client, address, sizeof address);
    auto* record = reinterpret_cast<macShadowSubsystem*>(subsystem);
    int32_t failures = 0;
    const uint64_t lockout = mac_login::countFailure(record, address, &failures);
    const uint64_t accountLock = mac_login::countAccountFailure(record, mac_login::kNlaAccount);
    if (accountLock > 0)
        MAC_WARN("nla login: %d wrong passwords within %u minutes from any address: NLA logins "
                 "are refused for %llu s, except from addresses that logged in before",
                 MAC_ACCOUNT_FAILURES, MAC_ACCOUNT_WINDOW_MS / 60000,
                 static_cast<unsigned long long>(accountLock / 1000));
    mac_connection_log_login(record->nlaUser, address, "nla", "wrong-password", lockout / 1000);
    if (lockout > 0)
        MAC_WARN("nla login from %s: wrong password (%d in a row): locked out for %llu s", address,
                 failures, static_cast<unsigned long long>(lockout / 1000));
    else
        MAC_WARN("nla login from %s: wrong password (%d)", address, failures);
}

extern "C" void mac_login_reset_process_state_for_tests(void) {
    gUnsetWarned.store(false);
    gPreviousLogon.store(nullptr);
    mac_login::resetRateWarning();
}
