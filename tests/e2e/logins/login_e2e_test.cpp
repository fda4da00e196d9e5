// Logins end to end: the real server on Xvfb, the real FreeRDP client, local
// accounts checked through PAM, and NLA against a hash made by WinPR's own
// hash tool. Each case has its own display and port so that ctest can run
// them side by side (PAM's delay and the one-second waits make them slow).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "login_e2e_support.h"

using namespace logins_e2e;
using Outcome = Server::Outcome;

namespace {

constexpr const char* kPassword = "Corv-Right-1";

#define REQUIRE_ROOT()                                                                             \
    if (geteuid() != 0)                                                                            \
    GTEST_SKIP() << "creating a local test account needs root"

// A TLS server with password logins and a fresh local account.
struct TlsSetup {
    TlsSetup(int display, int port, const std::string& tag)
        : server(display, port), account(accountName(tag), kPassword) {}
    Server server;
    TestAccount account;
};

} // namespace

TEST(TlsLogins, RightPasswordConnects) {
    REQUIRE_ROOT();
    TlsSetup s(40, 34400, "ok");
    ASSERT_TRUE(s.server.displayOk() && s.account.ok());
    ASSERT_TRUE(s.server.start({"+auth", "/sec:tls"})) << s.server.log();
    const std::string name = s.account.name();
    EXPECT_EQ(s.server.tlsLogin(name, kPassword, name), Outcome::LoggedIn) << s.server.log();
    EXPECT_TRUE(s.server.waitFor("Client from 127.0.0.1 is activated"));
    EXPECT_EQ(s.server.count(kPassword), 0) << "the password is never logged";
}

TEST(TlsLogins, WrongPasswordIsRefusedWithTheWrongPasswordLine) {
    REQUIRE_ROOT();
    TlsSetup s(41, 34401, "wr");
    ASSERT_TRUE(s.server.displayOk() && s.account.ok());
    ASSERT_TRUE(s.server.start({"+auth", "/sec:tls"})) << s.server.log();
    const std::string name = s.account.name();
    EXPECT_EQ(s.server.tlsLogin("WORKGROUP\\" + name, "not-it", name), Outcome::Refused);
    EXPECT_EQ(s.server.count("login from 127.0.0.1 as '" + name + "': wrong password (1)"), 1)
        << s.server.log();
    EXPECT_EQ(s.server.count("is activated"), 1) << "refused after the connection was made\n"
                                                 << s.server.log();
}

// The lock engaging on the real connection path; how it grows and ends is
// checked with the injected clock in tests/server/logins.
TEST(TlsLogins, ThirdWrongPasswordLocksTheAddress) {
    REQUIRE_ROOT();
    TlsSetup s(42, 34402, "lk");
    ASSERT_TRUE(s.server.displayOk() && s.account.ok());
    ASSERT_TRUE(s.server.start({"+auth", "/sec:tls"})) << s.server.log();
    const std::string name = s.account.name();
    EXPECT_EQ(s.server.tlsLogin(name, "wrong-1", name), Outcome::Refused);
    EXPECT_EQ(s.server.tlsLogin(name, "wrong-2", name), Outcome::Refused);
    EXPECT_EQ(s.server.tlsLogin(name, "wrong-3", name), Outcome::Refused);
    ASSERT_EQ(s.server.count("as '" + name + "': wrong password (3 in a row): locked out for 30 s"),
              1)
        << s.server.log();

    const int attempts = s.server.count("login attempt from 127.0.0.1");
    EXPECT_EQ(s.server.tlsLogin(name, kPassword, name), Outcome::Refused);
    EXPECT_EQ(s.server.count("login from 127.0.0.1 refused: locked out for another"), 1)
        << s.server.log();
    EXPECT_EQ(s.server.count("login attempt from 127.0.0.1"), attempts)
        << "a locked address gets no account check";
}

TEST(NlaLogins, StoredHashWithDomainPrefixAndOtherCaseConnects) {
    Server server(43, 34403);
    ASSERT_TRUE(server.displayOk());
    const std::string hash = winprHash("corvnla", "Nla-Secret-1");
    ASSERT_EQ(hash.size(), 32u);
    ASSERT_TRUE(server.start({"+auth", "+sec-nla"}, {{"MAC_SHADOW_NLA", "corvnla:" + hash}}))
        << server.log();
    EXPECT_TRUE(server.waitFor("Corvane login for NLA clients: user 'corvnla'"));
    EXPECT_EQ(server.nlaLogin("WORKGROUP\\CorvNLA", "Nla-Secret-1"), kNlaAccepted) << server.log();
    EXPECT_TRUE(server.waitFor("nla login from 127.0.0.1 as 'corvnla': ok")) << server.log();
    EXPECT_EQ(server.count(hash), 0) << "the hash is never logged";
}

TEST(NlaLogins, WrongPasswordIsRefusedAndCountedAtPeerEnd) {
    Server server(44, 34404);
    ASSERT_TRUE(server.displayOk());
    const std::string hash = winprHash("corvnla", "Nla-Secret-1");
    ASSERT_TRUE(server.start({"+auth", "+sec-nla"}, {{"MAC_SHADOW_NLA", "corvnla:" + hash}}));
    EXPECT_EQ(server.nlaLogin("corvnla", "Nla-Wrong"), kNlaRefused);
    EXPECT_TRUE(server.waitFor("nla login from 127.0.0.1: wrong password (1)")) << server.log();
    EXPECT_EQ(server.count("as 'corvnla': ok"), 0);
}

TEST(NlaLogins, MalformedValueRefusesNlaWhilePasswordLoginsWork) {
    REQUIRE_ROOT();
    TlsSetup s(46, 34406, "mf");
    ASSERT_TRUE(s.server.displayOk() && s.account.ok());
    ASSERT_TRUE(s.server.start({"+auth", "+sec-nla"},
                               {{"MAC_SHADOW_NLA", "corvnla:0123456789abcdef0123456789abcdeX"}}))
        << s.server.log();
    EXPECT_TRUE(s.server.waitFor(
        "MAC_SHADOW_NLA is malformed (want user:32 hex digits): NLA logins will be refused"));
    EXPECT_EQ(s.server.nlaLogin("corvnla", "anything"), kNlaRefused);
    EXPECT_TRUE(s.server.waitFor("refused, no Corvane login is set")) << s.server.log();
    const std::string name = s.account.name();
    EXPECT_EQ(s.server.tlsLogin(name, kPassword, name), Outcome::LoggedIn) << s.server.log();
}

TEST(ConnectionLimit, SixteenthConnectionFromLoopbackIsRefusedAtPeerInit) {
    Server server(47, 34407);
    ASSERT_TRUE(server.displayOk());
    ASSERT_TRUE(server.start({"+auth", "/sec:tls"})) << server.log();
    // One connection was spent on the readiness check; 14 more fill the window.
    std::vector<int> sockets;
    auto open = [&] {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(server.port()));
        inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
        EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        sockets.push_back(fd);
        return fd;
    };
    auto closedByServer = [](int fd) {
        timeval limit{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char byte;
        return recv(fd, &byte, 1, 0) == 0;
    };
    for (int i = 0; i < 14; i++)
        open();
    const int sixteenth = open();
    EXPECT_TRUE(server.waitFor("too many connections from 127.0.0.1 (more than 15 a minute): "
                               "refusing for now"))
        << server.log();
    EXPECT_TRUE(closedByServer(sixteenth)) << "a refused connection is closed at once";
    EXPECT_EQ(server.count("too many connections"), 1);
    char byte;
    EXPECT_EQ(recv(sockets[13], &byte, 1, MSG_DONTWAIT), -1) << "the 15th is still open";
    for (int fd : sockets)
        close(fd);
}
