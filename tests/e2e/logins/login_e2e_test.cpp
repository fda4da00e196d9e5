// Logins end to end: the real server on Xvfb, the real FreeRDP client, local
// accounts checked through PAM, and NLA against a hash made by WinPR's own
// hash tool. Each case has its own slot of displays and port so that ctest
// can run them side by side (PAM's delay and the one-second waits make them
// slow).
// How the lock grows and ends, and the connection limit, are checked with
// the injected clock in tests/server/logins.
#include <cstdio>
#include <unistd.h>

#include <gtest/gtest.h>

#include "e2e_session.h"

using namespace e2e;

namespace {

constexpr const char* kPassword = "Corv-Right-1";
// xfreerdp3 +auth-only exit status of a refused login.
constexpr int kNlaRefused = 132;

#define REQUIRE_ROOT()                                                                             \
    if (geteuid() != 0)                                                                            \
    GTEST_SKIP() << "creating a local test account needs root"

// useradd and userdel lock the account files; parallel tests may find them
// locked for a moment.
bool runRetrying(const std::vector<std::string>& argv) {
    return waitUntil([&] { return run(argv, {}, 10000ms) == std::optional<int>(0); }, 15000ms,
                     200ms);
}

// A local account with kPassword, unique to this process, removed again at
// the end. Needs root.
// groups: extra groups, comma-separated.
struct TestAccount {
    explicit TestAccount(const std::string& tag, const std::string& groups = "")
        : name("corv" + tag + std::to_string(getpid() % 100000)) {
        std::vector<std::string> add = {"/usr/sbin/useradd", "-M", "-s", "/usr/sbin/nologin"};
        if (!groups.empty())
            add.insert(add.end(), {"-G", groups});
        add.push_back(name);
        ok = runRetrying(add) &&
             runRetrying({"sh", "-c", "printf '%s:%s\\n' \"$0\" \"$1\" | /usr/sbin/chpasswd", name,
                          kPassword});
    }
    ~TestAccount() { runRetrying({"/usr/sbin/userdel", name}); }
    std::string name;
    bool ok = false;
};

// A local group unique to this process, removed again at the end. Tests use
// one of their own as the administrators group rather than add an account
// to the real one.
struct TestGroup {
    explicit TestGroup(const std::string& tag)
        : name("corv" + tag + std::to_string(getpid() % 100000)) {
        ok = runRetrying({"/usr/sbin/groupadd", name});
    }
    ~TestGroup() { runRetrying({"/usr/sbin/groupdel", name}); }
    std::string name;
    bool ok = false;
};

enum class Outcome { LoggedIn, Refused, TimedOut };

// A server on one display; the clients of password logins run there too.
class LoginSession : public Session {
  public:
    LoginSession() : Session(suites::logins, "1024x768x24") {}
    // A TLS password login with the real client; LoggedIn once the server
    // logged "as '<account>': ok", Refused when the client ended without it.
    Outcome tlsLogin(const std::string& user, const std::string& password,
                     const std::string& account) {
        const std::string okLine = "as '" + account + "': ok";
        const int before = logCount(okLine);
        Process client;
        if (!startClient(client, {"/sec:tls", "/u:" + user, "/p:" + password}))
            return Outcome::TimedOut;
        bool ended = false;
        const bool decided =
            waitUntil([&] { return logCount(okLine) > before || (ended = !client.running()); },
                      30000ms, 100ms);
        client.stop();
        if (logCount(okLine) > before)
            return Outcome::LoggedIn;
        return decided && ended ? Outcome::Refused : Outcome::TimedOut;
    }
    // An NLA login with +auth-only; the client's exit status.
    std::optional<int> nlaLogin(const std::string& user, const std::string& password) {
        Process client;
        if (!startClient(client,
                         {"/sec:nla", "/u:" + user, "/p:" + password,
                          "/auth-pkg-list:ntlm,!kerberos", "+auth-only"},
                         {{"DISPLAY", ""}}))
            return std::nullopt;
        const std::optional<int> status = client.waitExit(30000ms);
        if (!status)
            client.stop();
        return status;
    }

  private:
    bool startClient(Process& client, const std::vector<std::string>& args, const Env& env = {}) {
        const std::string log = dir().file("client" + std::to_string(++clients_) + ".log");
        return client.start(clientCommand(args), merged(clientEnv(), env), log, log);
    }
    int clients_ = 0;
};

} // namespace

// Right and wrong passwords over TLS with a local account through PAM, and
// the lock engaging on the real connection path after the third wrong one
// (the contract test of the peer hooks). How a lock refuses without an
// account check, that passwords are never logged and that a client not
// logged in is never called activated are checked on the same login path
// over sim accounts (tests/server/logins).
TEST(TlsLogins, RightWrongAndLockedOut) {
    REQUIRE_ROOT();
    LoginSession server;
    TestAccount account("ok");
    ASSERT_TRUE(server.ok() && account.ok);
    ASSERT_TRUE(
        server.startServer({"+auth", "/sec:tls"}, {{"MAC_SHADOW_ALLOWED_USERS", account.name}}));
    E2E_SKIP_IF_HOOK_UNVERIFIED(server, "peer-hooks");
    const std::string& name = account.name;
    EXPECT_EQ(server.tlsLogin(name, kPassword, name), Outcome::LoggedIn);
    EXPECT_TRUE(server.serverSays("Client from 127.0.0.1 is activated"));
    EXPECT_EQ(server.tlsLogin("WORKGROUP\\" + name, "wrong-1", name), Outcome::Refused);
    EXPECT_EQ(server.logCount("login from 127.0.0.1 as '" + name + "': wrong password (1)"), 1);
    EXPECT_EQ(server.tlsLogin(name, "wrong-2", name), Outcome::Refused);
    EXPECT_EQ(server.tlsLogin(name, "wrong-3", name), Outcome::Refused);
    ASSERT_EQ(
        server.logCount("as '" + name + "': wrong password (3 in a row): locked out for 30 s"), 1);
    EXPECT_EQ(server.tlsLogin(name, kPassword, name), Outcome::Refused);
    EXPECT_EQ(server.logCount("login from 127.0.0.1 refused: locked out for another"), 1);
}

TEST(NlaLogins, StoredHashAcceptsTheRightPasswordOnlyAndIsNeverLogged) {
    LoginSession server;
    const std::string hash = winprHash("corvnla", "Nla-Secret-1");
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(hash.size(), 32u);
    ASSERT_TRUE(server.startServer({"+auth", "+sec-nla"}, {{"MAC_SHADOW_NLA", "corvnla:" + hash}}));
    EXPECT_TRUE(server.serverSays("Corvane login for NLA clients: user 'corvnla'"));
    EXPECT_EQ(server.nlaLogin("WORKGROUP\\CorvNLA", "Nla-Secret-1"), nlaAcceptedStatus());
    EXPECT_TRUE(server.serverSays("nla login from 127.0.0.1 as 'corvnla': ok"));
    EXPECT_EQ(server.nlaLogin("corvnla", "Nla-Wrong"), kNlaRefused);
    EXPECT_TRUE(server.serverSays("nla login from 127.0.0.1: wrong password (1)"));
    EXPECT_EQ(server.logCount(hash), 0) << "the hash is never logged";
}

// A malformed MAC_SHADOW_NLA (said, and every NLA login refused: checked in
// tests/server/logins) leaves password logins working.
TEST(NlaLogins, AMalformedValueLeavesPasswordLoginsWorking) {
    REQUIRE_ROOT();
    LoginSession server;
    TestAccount account("mf");
    ASSERT_TRUE(server.ok() && account.ok);
    ASSERT_TRUE(server.startServer({"+auth", "+sec-nla"},
                                   {{"MAC_SHADOW_NLA", "corvnla:0123456789abcdef0123456789abcdeX"},
                                    {"MAC_SHADOW_ALLOWED_USERS", account.name}}));
    EXPECT_EQ(server.tlsLogin(account.name, kPassword, account.name), Outcome::LoggedIn);
}

// Only allowed accounts get in: by default the owner and the administrators,
// with a rule its accounts and groups; any other account, and the members of
// a group that does not exist, get the answer of a wrong password.
TEST(TlsLogins, OnlyAllowedAccountsGetIn) {
    REQUIRE_ROOT();
    TestGroup admins("adm"), team("grp");
    ASSERT_TRUE(admins.ok && team.ok);
    TestAccount plain("pl"), admin("ad", admins.name), member("gm", team.name);
    ASSERT_TRUE(plain.ok && admin.ok && member.ok);
    const std::string missing = "corvnone" + std::to_string(getpid() % 100000);
    const std::string notAllowed = "': refused, not an allowed account (password logins are for ";
    {
        LoginSession server;
        ASSERT_TRUE(server.ok());
        const std::string connections = server.dir().file("state/connections.jsonl");
        ASSERT_TRUE(server.startServer(
            {"+auth", "/sec:tls"},
            {{"MAC_SHADOW_ADMIN_GROUP", admins.name}, {"MAC_SHADOW_CONNECTION_LOG", connections}}));
        E2E_SKIP_IF_HOOK_UNVERIFIED(server, "peer-hooks");
        EXPECT_TRUE(server.serverSays("password logins: allowed for the server's own account "
                                      "'root' and the members of group '" +
                                      admins.name + "'"));
        EXPECT_EQ(server.tlsLogin(plain.name, kPassword, plain.name), Outcome::Refused);
        EXPECT_EQ(server.logCount("as '" + plain.name + notAllowed), 1);
        EXPECT_EQ(server.tlsLogin(admin.name, "wrong-1", admin.name), Outcome::Refused);
        EXPECT_EQ(server.logCount("as '" + admin.name + "': wrong password (2)"), 1)
            << "the refused account counted as the first wrong password of the address";
        EXPECT_EQ(server.tlsLogin(admin.name, kPassword, admin.name), Outcome::LoggedIn);
        EXPECT_TRUE(server.serverSays("as '" + admin.name + "': ok (allowed as '" + admins.name));

        // The administrator's session ended with its client: its line says
        // how long it lasted and how many bytes it was sent.
        EXPECT_TRUE(waitUntil(
            [&] {
                const std::string log = readFile(connections);
                const size_t end = log.find("\"event\":\"session-end\"");
                const size_t line = log.rfind('\n', end);
                return end != std::string::npos &&
                       log.find("\"bytes\":", line == std::string::npos ? 0 : line) < end;
            },
            10000ms))
            << readFile(connections);
        const std::string log = readFile(connections);
        EXPECT_NE(log.find("\"result\":\"not-allowed\""), std::string::npos) << log;
        EXPECT_EQ(log.find(kPassword), std::string::npos) << "the password is never logged";
    }
    {
        LoginSession server;
        ASSERT_TRUE(server.ok());
        ASSERT_TRUE(server.startServer(
            {"+auth", "/sec:tls"},
            {{"MAC_SHADOW_ALLOWED_USERS", plain.name + ", @" + team.name + ", @" + missing}}));
        EXPECT_TRUE(server.serverSays("MAC_SHADOW_ALLOWED_USERS: a named group does not exist"));
        EXPECT_TRUE(server.serverSays("the members of group '" + missing + "' (no such group)"));
        EXPECT_EQ(server.tlsLogin(member.name, kPassword, member.name), Outcome::LoggedIn);
        EXPECT_TRUE(server.serverSays("(allowed as '@" + team.name + "')"));
        EXPECT_EQ(server.tlsLogin(admin.name, kPassword, admin.name), Outcome::Refused)
            << "a rule replaces the default one";
        EXPECT_EQ(server.tlsLogin(plain.name, kPassword, plain.name), Outcome::LoggedIn);
    }
}
