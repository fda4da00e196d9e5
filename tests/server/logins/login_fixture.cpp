#include "login_fixture.h"

#include <cstdlib>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

#include <freerdp/settings.h>

#include "server/shadow/Mac/core/lifecycle.h"
#include "server/shadow/ext/hook_gate.h"
#include "server/shadow/ext/peer_admission.h"
#include "server/shadow/ext/peer_guard.h"

namespace login_test {

namespace {

std::mutex gConnMutex;
std::map<freerdp_peer*, FakeConnection*> gConnections;

FakeConnection* connectionOf(freerdp_peer* peer) {
    std::lock_guard lock(gConnMutex);
    const auto it = gConnections.find(peer);
    return it == gConnections.end() ? nullptr : it->second;
}

std::atomic<int> gLibraryLogonCalls{0};

} // namespace

BOOL fakeLibraryLogon(freerdp_peer*, const SEC_WINNT_AUTH_IDENTITY*, BOOL) {
    gLibraryLogonCalls++;
    return TRUE;
}

int libraryLogonCalls() {
    return gLibraryLogonCalls.load();
}

bool FakeConnection::shutDown() const {
    char byte = 0;
    return recv(farEnd, &byte, 1, MSG_DONTWAIT) == 0;
}

FakeConnection::~FakeConnection() {
    std::lock_guard lock(gConnMutex);
    gConnections.erase(&peer);
    freerdp_settings_free(settings);
    if (readable)
        CloseHandle(readable);
    close(peer.sockfd);
    close(farEnd);
}

void LoginTest::recordWait(uint32_t ms) {
    EXPECT_EQ(ms, 1000u) << "refusals wait one second";
    waits_++;
}

void LoginTest::recordErrorInfo(rdpShadowClient* client, UINT32 code) {
    std::lock_guard lock(errorMutex_);
    errorInfos_[client] = code;
}

UINT32 LoginTest::errorInfo(FakeConnection* c) {
    std::lock_guard lock(errorMutex_);
    const auto it = errorInfos_.find(&c->client);
    return it == errorInfos_.end() ? 0 : it->second;
}

// What the shadow library's accept does that matters here: the client
// record, tied to the peer, with the server's subsystem.
BOOL LoginTest::fakeLibraryAccept(freerdp_listener* listener, freerdp_peer* peer) {
    FakeConnection* c = connectionOf(peer);
    if (!c)
        return FALSE;
    libraryAccepts_++;
    auto* server = static_cast<rdpShadowServer*>(listener->info);
    c->client.context.peer = peer;
    c->client.context.settings = c->settings;
    c->client.server = server;
    c->client.subsystem = server->subsystem;
    peer->context = &c->client.context;
    return TRUE;
}

BOOL LoginTest::fakeInitialize(freerdp_peer* peer) {
    if (FakeConnection* c = connectionOf(peer))
        c->initializeCalls++;
    return TRUE;
}

void LoginTest::fakeDisconnect(freerdp_peer* peer) {
    if (FakeConnection* c = connectionOf(peer))
        c->disconnectCalls++;
}

DWORD LoginTest::fakeEventHandles(freerdp_peer* peer, HANDLE* events, DWORD count) {
    FakeConnection* c = connectionOf(peer);
    if (!c || count < 1)
        return 0;
    events[0] = c->readable;
    return 1;
}

BOOL LoginTest::fakeCheck(freerdp_peer* peer) {
    FakeConnection* c = connectionOf(peer);
    if (!c)
        return FALSE;
    c->checkCalls++;
    if (c->onCheck)
        return c->onCheck(*c);
    c->client.activated = TRUE;
    return TRUE;
}

void LoginTest::SetUp() {
    unsetenv("MAC_SHADOW_NLA");
    unsetenv("MAC_SHADOW_PERMS");
    unsetenv("CORVANE_SIM_ACCOUNTS");
    unsetenv("MAC_SHADOW_ALLOWED_USERS");
    unsetenv("MAC_SHADOW_ADMIN_GROUP");
    SimPlatformTest::SetUp();
    // The default rule lets the owner and the administrators in.
    accounts().setOwner("alice");
    accounts().setGroup("admin", {"bob"});

    setNow(10'000'000);
    mac_set_clock_for_tests(now);
    waits_ = 0;
    libraryAccepts_ = 0;
    {
        std::lock_guard lock(errorMutex_);
        errorInfos_.clear();
    }
    mac_login_set_wait_for_tests(recordWait);
    mac_login_set_error_info_for_tests(recordErrorInfo);
    mac_login_reset_process_state_for_tests();
    shadow_ext_guard_reset();
    // The peer hooks run here against stand-ins for the library's peers.
    shadow_ext_hooks_force_on_for_tests(TRUE);
    shadow_ext::penalties().clear();
    shadow_ext::refusalLines().clear();
    shadow_ext::timeoutLines().clear();
    shadow_ext::failureLines().clear();
    shadow_ext::setShedRollForTests([] { return 99u; }); // shed only when full
    log_capture::install();
    WLog_SetLogLevel(WLog_Get("com.freerdp.server.shadow.mac"), WLOG_INFO);
    WLog_SetLogLevel(WLog_Get("com.freerdp.server.shadow.ext"), WLOG_INFO);

    base_ = mac_shadow_subsystem_new();
    ASSERT_NE(base_, nullptr);
    ASSERT_EQ(mac_shadow_subsystem_init(base_), 1);
    record_ = reinterpret_cast<macShadowSubsystem*>(base_);

    server_.subsystem = base_;
    server_.listener = &listener_;
    listener_.info = &server_;
    listener_.PeerAccepted = fakeLibraryAccept;
    ASSERT_TRUE(shadow_ext_install_peer_hooks(&server_));
    LogCapture::clear();
}

void LoginTest::TearDown() {
    for (auto& c : connections_) {
        if (c->client.context.peer && c->disconnectCalls.load() == 0)
            c->peer.Disconnect(&c->peer);
    }
    connections_.clear();
    shadow_ext_hooks_force_on_for_tests(FALSE);
    shadow_ext::setShedRollForTests(nullptr);
    mac_set_clock_for_tests(nullptr);
    mac_login_set_wait_for_tests(nullptr);
    mac_login_set_error_info_for_tests(nullptr);
    mac_shadow_subsystem_free(base_);
    unsetenv("MAC_SHADOW_NLA");
    unsetenv("MAC_SHADOW_ALLOWED_USERS");
    SimPlatformTest::TearDown();
}

FakeConnection* LoginTest::connectRaw(const std::string& address, bool* admitted) {
    auto c = std::make_unique<FakeConnection>();
    std::strncpy(c->peer.hostname, address.c_str(), sizeof(c->peer.hostname) - 1);
    c->peer.Initialize = fakeInitialize;
    c->peer.Disconnect = fakeDisconnect;
    c->peer.GetEventHandles = fakeEventHandles;
    c->peer.CheckFileDescriptor = fakeCheck;
    c->readable = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    int pair[2] = {-1, -1};
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    c->peer.sockfd = pair[0];
    c->farEnd = pair[1];
    c->settings = freerdp_settings_new(FREERDP_SETTINGS_SERVER_MODE);
    {
        std::lock_guard lock(gConnMutex);
        gConnections[&c->peer] = c.get();
    }
    const BOOL ok = listener_.PeerAccepted(&listener_, &c->peer);
    if (admitted)
        *admitted = ok == TRUE;
    connections_.push_back(std::move(c));
    return connections_.back().get();
}

FakeConnection* LoginTest::connect(const std::string& address) {
    bool admitted = false;
    FakeConnection* c = connectRaw(address, &admitted);
    return admitted ? c : nullptr;
}

void LoginTest::disconnect(FakeConnection* c) {
    c->peer.Disconnect(&c->peer);
}

void LoginTest::configure(const char* name, const char* value, void (*read)(macShadowSubsystem*)) {
    value ? setenv(name, value, 1) : unsetenv(name);
    read(record_);
    LogCapture::clear();
}

} // namespace login_test
