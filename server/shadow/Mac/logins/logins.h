// Logins: the connection limit, password logins with lockout per address and
// per account, and NLA logins against the stored NT hash. The tables live in
// the record under
// loginLock, which is never held across the account check, a wait or a log
// line. All of this runs on the shadow server's listener and client threads.
#pragma once
#include <cstddef>
#include <cstdint>

#include <winpr/sspi.h>

#include "mac_shadow.h"

extern "C" {

// Subsystem callbacks (record slots).
BOOL mac_shadow_peer_init(rdpShadowSubsystem* subsystem, rdpShadowClient* client);
int mac_shadow_authenticate(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                            const char* user, const char* domain, const char* password);
void mac_shadow_peer_end(rdpShadowSubsystem* subsystem, rdpShadowClient* client);

// Peer hooks put in place by mac_shadow_peer_init.
SECURITY_STATUS mac_shadow_nla_hash(void* peer, const SEC_WINNT_AUTH_IDENTITY* identity,
                                    const SecBuffer* ntProofValue, const BYTE* randKey,
                                    const BYTE* mic, const SecBuffer* micValue, BYTE* ntlmV2Key);
BOOL mac_shadow_peer_logon(freerdp_peer* peer, const SEC_WINNT_AUTH_IDENTITY* identity,
                           BOOL automatic);
// Remembers the peer's Logon (once per process) and puts ours in its place.
BOOL mac_shadow_peer_hook_logon(freerdp_peer* peer);

// Test seams: the refusal wait and the RDP error info sent before a refused
// login (null restores the real ones), and the process-wide "warned once"
// and rate-limit warning state.
void mac_login_set_wait_for_tests(void (*wait)(uint32_t ms));
void mac_login_set_error_info_for_tests(void (*setErrorInfo)(rdpShadowClient* client, UINT32 code));
void mac_login_reset_process_state_for_tests(void);

} // extern "C"

// Steps shared by the login files, with the client address made explicit so
// that addresses a real peer cannot carry can be exercised too.
namespace mac_login {

constexpr uint32_t kRefusalWaitMs = 1000;

// The client's address: the peer's host name, or "?" when it is empty.
void clientAddress(rdpShadowClient* client, char* out, size_t outSize);
void refusalWait();
// A client-sent text made safe for a log line: control characters become
// '?', so that a user name cannot start a forged line. Truncates to outSize.
void printable(const char* text, char* out, size_t outSize);
// Forgets when the rate-limit warnings were last written.
void resetRateWarning();
void setErrorInfo(rdpShadowClient* client, UINT32 code);

// Whether the account may log in with a password (login_allow.cpp); by
// receives the rule entry that admitted it.
bool accountAllowed(const macShadowSubsystem* record, const char* account, char* by,
                    size_t bySize);

// One connection counted against the per-address limit (under the lock).
BOOL connectionAllowed(macShadowSubsystem* record, const char* address);
// Peer init for an address: the limit and its throttled warning.
BOOL admit(macShadowSubsystem* record, const char* address);
int authenticate(macShadowSubsystem* record, rdpShadowClient* client, const char* address,
                 const char* user, const char* domain, const char* password);
// A wrong password or a failed NLA attempt: counted under the lock. Returns
// the lockout imposed (ms) and the failures in a row through *failures.
uint64_t countFailure(macShadowSubsystem* record, const char* address, int32_t* failures);
// A good login frees the address's entry and makes the address known for
// the account.
void clearFailures(macShadowSubsystem* record, const char* address, const char* account);
// The account side of the lockout: what remains of an account's lock for an
// address, and one wrong password counted against the account (returns the
// lock it imposes, ms). The NLA login counts as an account of its own.
uint64_t accountLockRemaining(macShadowSubsystem* record, const char* account, const char* address);
uint64_t countAccountFailure(macShadowSubsystem* record, const char* account);
// The account key of the NLA login: no account name can hold a line break.
inline constexpr const char* kNlaAccount = "\nnla";
// Lock state of an address: remaining lock (ms) and whether it has failures.
// An address without failures that is locked all the same met a full table.
uint64_t lockRemaining(macShadowSubsystem* record, const char* address, bool* hasFailures);

} // namespace mac_login
