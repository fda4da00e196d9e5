// Fixture for the login tests: a sim platform with its own accounts, one
// initialised subsystem record, an injected clock, recorded waits and error
// infos, the core's log lines, and fake peers admitted through the
// extension layer's real listener wrapper.
#pragma once
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <winpr/wlog.h>

#include "base/clock.h"
#include "server/core/sim_fixture.h"
#include "server/log_capture.h"
#include "server/shadow/Mac/core/lifecycle.h"
#include "server/shadow/Mac/logins/logins.h"
#include "server/shadow/ext/peer_hooks.h"

namespace login_test {

// Log lines of the core with their level and function.
struct LogCapture {
    static void clear() { log_capture::clear(); }
    static std::vector<std::string> lines() { return log_capture::lines(true); }
    static int count(const std::string& text) {
        return static_cast<int>(log_capture::count(text, true));
    }
    static std::string all() {
        std::string text;
        for (const std::string& line : lines())
            text += line + "\n";
        return text;
    }
    // Whether a line holds the text; the lines are in the message.
    static ::testing::AssertionResult has(const std::string& text) {
        return (count(text) > 0 ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
               << "\"" << text << "\" in:\n"
               << all();
    }
};

// A fake connection: a FreeRDP peer with a host name and, once the fake
// library accept has run, a client record as the shadow library makes it.
// Its handshake: every CheckFileDescriptor runs `onCheck` (by default the
// client is activated at once); the peer's socket is one end of a socket
// pair, so a test sees a shutdown at the other end.
struct FakeConnection {
    freerdp_peer peer{};
    rdpShadowClient client{};
    rdpSettings* settings = nullptr;
    std::atomic<int> initializeCalls{0};
    std::atomic<int> disconnectCalls{0};
    std::atomic<int> checkCalls{0};
    std::function<BOOL(FakeConnection&)> onCheck;
    HANDLE readable = nullptr;
    int farEnd = -1;
    // True when the server side shut the socket down (the far end reads EOF).
    bool shutDown() const;
    ~FakeConnection();
};

class LoginTest : public SimPlatformTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    corvane::platform::sim::SimAccounts& accounts() { return sim().simAccounts(); }
    macShadowSubsystem* record() { return record_; }
    rdpShadowSubsystem* subsystem() { return &record_->common.base; }

    // A connection from address that went through the listener wrapper;
    // null when PeerInit refused it.
    FakeConnection* connect(const std::string& address);
    // Same, also for refused ones (check admitted()).
    FakeConnection* connectRaw(const std::string& address, bool* admitted);
    // The library's Disconnect of a connection (through the wrapper).
    void disconnect(FakeConnection* c);

    static void setNow(uint64_t ms) { now_.store(ms); }
    static void advance(uint64_t ms) { now_.fetch_add(ms); }
    static uint64_t now() { return now_.load(); }

    int waits() const { return waits_.load(); }
    // The last error info set on the connection's client, 0 when none.
    UINT32 errorInfo(FakeConnection* c);
    int libraryAccepts() const { return libraryAccepts_.load(); }

    // Sets MAC_SHADOW_NLA or MAC_SHADOW_ALLOWED_USERS (null unsets) and
    // reads it as Init does.
    void configureNla(const char* value) {
        configure("MAC_SHADOW_NLA", value, mac_shadow_nla_configure);
    }
    void configureAllowed(const char* rule) {
        configure("MAC_SHADOW_ALLOWED_USERS", rule, mac_shadow_allow_configure);
    }

    rdpShadowServer server_{};
    freerdp_listener listener_{};

  private:
    void configure(const char* name, const char* value, void (*read)(macShadowSubsystem*));
    static void recordWait(uint32_t ms);
    static void recordErrorInfo(rdpShadowClient* client, UINT32 code);
    static BOOL fakeLibraryAccept(freerdp_listener* listener, freerdp_peer* peer);
    static BOOL fakeInitialize(freerdp_peer* peer);
    static void fakeDisconnect(freerdp_peer* peer);
    static DWORD fakeEventHandles(freerdp_peer* peer, HANDLE* events, DWORD count);
    static BOOL fakeCheck(freerdp_peer* peer);

    static inline std::atomic<uint64_t> now_{0};
    static inline std::atomic<int> waits_{0}, libraryAccepts_{0};
    static inline std::mutex errorMutex_;
    static inline std::map<rdpShadowClient*, UINT32> errorInfos_;

    rdpShadowSubsystem* base_ = nullptr;
    macShadowSubsystem* record_ = nullptr;
    std::deque<std::unique_ptr<FakeConnection>> connections_;
};

// The library's own Logon as the fake sees it: counts its calls.
BOOL fakeLibraryLogon(freerdp_peer* peer, const SEC_WINNT_AUTH_IDENTITY* identity, BOOL automatic);
int libraryLogonCalls();

} // namespace login_test
