// What the login steps share: the client address, the refusal wait, the
// error info of a refused login, and the lockout tables under loginLock.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <freerdp/freerdp.h>

#include "base/clock.h"
#include "core/section_lock.h"
#include "logins.h"

namespace {

void realWait(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void realSetErrorInfo(rdpShadowClient* client, UINT32 code) {
    if (client && client->context.rdp)
        freerdp_set_error_info(client->context.rdp, code);
}

std::atomic<void (*)(uint32_t)> gWait{realWait};
std::atomic<void (*)(rdpShadowClient*, UINT32)> gSetErrorInfo{realSetErrorInfo};

} // namespace

extern "C" void mac_login_set_wait_for_tests(void (*wait)(uint32_t ms)) {
    gWait.store(wait ? wait : realWait);
}

extern "C" void mac_login_set_error_info_for_tests(void (*setErrorInfo)(rdpShadowClient*, UINT32)) {
    gSetErrorInfo.store(setErrorInfo ? setErrorInfo : realSetErrorInfo);
}

namespace mac_login {

void clientAddress(rdpShadowClient* client, char* out, size_t outSize) {
    if (!out || !outSize)
        return;
    const freerdp_peer* peer = client ? client->context.peer : nullptr;
    const char* name = peer && peer->hostname[0] ? peer->hostname : "?";
    // The host name field is a fixed buffer: never read past it.
    std::snprintf(out, outSize, "%.*s", static_cast<int>(sizeof(peer->hostname)), name);
}

void printable(const char* text, char* out, size_t outSize) {
    if (!out || !outSize)
        return;
    size_t n = 0;
    for (const char* c = text ? text : ""; *c && n + 1 < outSize; c++, n++) {
        const auto byte = static_cast<unsigned char>(*c);
        out[n] = byte < 0x20 || byte == 0x7f ? '?' : *c;
    }
    out[n] = '\0';
}

void refusalWait() {
    gWait.load()(kRefusalWaitMs);
}

void setErrorInfo(rdpShadowClient* client, UINT32 code) {
    gSetErrorInfo.load()(client, code);
}

uint64_t countFailure(macShadowSubsystem* record, const char* address, int32_t* failures) {
    SectionLock lock(record->loginLock);
    const uint64_t lockout = mac_logic_auth_failed(&record->lockoutTable, address, mac_now_ms());
    if (failures)
        *failures = mac_logic_lockout_failures(&record->lockoutTable, address);
    return lockout;
}

void clearFailures(macShadowSubsystem* record, const char* address, const char* account) {
    SectionLock lock(record->loginLock);
    mac_logic_lockout_clear(&record->lockoutTable, address);
    mac_logic_account_succeeded(&record->accountTable, account, address, mac_now_ms());
}

uint64_t accountLockRemaining(macShadowSubsystem* record, const char* account, const char* address) {
    SectionLock lock(record->loginLock);
    return mac_logic_account_remaining(&record->accountTable, account, address, mac_now_ms());
}

uint64_t countAccountFailure(macShadowSubsystem* record, const char* account) {
    SectionLock lock(record->loginLock);
    return mac_logic_account_failed(&record->accountTable, account, mac_now_ms());
}

uint64_t lockRemaining(macShadowSubsystem* record, const char* address, bool* hasFailures) {
    SectionLock lock(record->loginLock);
    if (hasFailures)
        *hasFailures = mac_logic_lockout_failures(&record->lockoutTable, address) > 0;
    return mac_logic_lockout_remaining(&record->lockoutTable, address, mac_now_ms());
}

BOOL connectionAllowed(macShadowSubsystem* record, const char* address) {
    SectionLock lock(record->loginLock);
    return mac_logic_conn_allow(&record->connTable, address, mac_now_ms()) ? TRUE : FALSE;
}

} // namespace mac_login
