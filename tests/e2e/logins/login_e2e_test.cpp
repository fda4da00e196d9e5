// Logins end to end: the real server on Xvfb, the real FreeRDP client, local
// accounts checked through PAM, and NLA against a hash made by WinPR's own
// hash tool. Each case has its own display and port so that ctest can run
// them side by side (PAM's delay and the one-second waits make them slow).
// How the lock grows and ends, and the connection limit, are checked with
// the injected clock in tests/server/logins.
#include <cstdio>
#include <unistd.h>

#include <gtest/gtest.h>

#include "e2e_harness.h"

using namespace e2e;

namespace {

constexpr const char* kPassword = "Corv-Right-1";
// xfreerdp3 +auth-only exit status of a refused login.
constexpr int kNlaRefused = 132;

// xfreerdp3 +auth-only exit status of an accepted NLA login: 131 with
// FreeRDP 3.10 (Debian 12), 0 with 3.15 (Debian 13), where the client's
// status was mended (FreeRDP issue #11430); -1 when the client's version
// cannot be read.
int nlaAcceptedStatus() {
    std::string out;
    int major = 0, minor = 0;
    const size_t at = run({"xfreerdp3", "--version"}, {}, 10000ms, &out) == std::optional<int>(0)
                          ? out.find("version ")
                          : std::string::npos;
    if (at == std::string::npos ||
        std::sscanf(out.c_str() + at, "version %d.%d", &major, &minor) != 2)
        return -1;
    return major > 3 || (major == 3 && minor >= 15) ? 0 : 131;
}

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
struct TestAccount {
    explicit TestAccount(const std::string& tag)
        : name("corv" + tag + std::to_string(getpid() % 100000)) {
        ok = runRetrying({"/usr/sbin/useradd", "-M", "-s", "/usr/sbin/nologin", name}) &&
             runRetrying({"sh", "-c", "printf '%s:%s\\n' \"$0\" \"$1\" | /usr/sbin/chpasswd", name,
                          kPassword});
    }
    ~TestAccount() { runRetrying({"/usr/sbin/userdel", name}); }
    std::string name;
    bool ok = false;
};

// The NT hash as WinPR's own hash tool prints it; empty on failure.
std::string winprHash(const std::string& user, const std::string& password) {
    std::string out;
    if (run({"winpr-hash3", "-u", user, "-p", password}, {}, 10000ms, &out) !=
        std::optional<int>(0))
        return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

enum class Outcome { LoggedIn, Refused, TimedOut };

class Server {
  public:
    Server(int display, int port) : display_(display, "1024x768x24"), port_(port) {}
    // Starts the server with the arguments (after /port) and extra
    // environment; true once its port answers.
    bool start(const std::vector<std::string>& args,
               const std::map<std::string, std::string>& extraEnv = {}) {
        auto env = isolatedServerEnv(dir_, display_.name());
        for (const auto& [name, value] : extraEnv)
            env[name] = value;
        std::vector<std::string> argv = {CORVANE_SERVER_BIN, "/port:" + std::to_string(port_)};
        argv.insert(argv.end(), args.begin(), args.end());
        return display_.ok() &&
               server_.start(argv, env, dir_.file("server.log"), dir_.file("server.log")) &&
               waitUntil([&] { return portOpen(port_); }, 10000ms);
    }
    std::string log() const { return readFile(dir_.file("server.log")); }
    int count(const std::string& text) const {
        const std::string all = log();
        int n = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            n++;
        return n;
    }
    bool waitFor(const std::string& text) const {
        return waitUntil([&] { return count(text) >= 1; }, 15000ms);
    }
    // A TLS password login with the real client; LoggedIn once the server
    // logged "as '<account>': ok", Refused when the client ended without it.
    Outcome tlsLogin(const std::string& user, const std::string& password,
                     const std::string& account) {
        const std::string okLine = "as '" + account + "': ok";
        const int before = count(okLine);
        Process client;
        if (!startClient(client, {"/sec:tls", "/u:" + user, "/p:" + password}, display_.name()))
            return Outcome::TimedOut;
        bool ended = false;
        const bool decided = waitUntil(
            [&] { return count(okLine) > before || (ended = !client.running()); }, 30000ms, 100ms);
        client.stop();
        if (count(okLine) > before)
            return Outcome::LoggedIn;
        return decided && ended ? Outcome::Refused : Outcome::TimedOut;
    }
    // An NLA login with +auth-only; the client's exit status.
    std::optional<int> nlaLogin(const std::string& user, const std::string& password) {
        Process client;
        if (!startClient(client,
                         {"/sec:nla", "/u:" + user, "/p:" + password,
                          "/auth-pkg-list:ntlm,!kerberos", "+auth-only"},
                         ""))
            return std::nullopt;
        const std::optional<int> status = client.waitExit(30000ms);
        if (!status)
            client.stop();
        return status;
    }

  private:
    bool startClient(Process& client, const std::vector<std::string>& args,
                     const std::string& display) {
        const std::string clientLog = dir_.file("client" + std::to_string(++clients_) + ".log");
        std::vector<std::string> argv = {"xfreerdp3", "/v:127.0.0.1:" + std::to_string(port_),
                                         "/cert:ignore"};
        argv.insert(argv.end(), args.begin(), args.end());
        return client.start(argv, {{"DISPLAY", display}, {"HOME", dir_.path()}}, clientLog,
                            clientLog);
    }
    Xvfb display_;
    TempDir dir_;
    Process server_;
    int port_;
    int clients_ = 0;
};

} // namespace

// Right and wrong passwords over TLS, and the lock engaging on the real
// connection path after the third wrong one.
TEST(TlsLogins, RightWrongAndLockedOut) {
    REQUIRE_ROOT();
    Server server(40, 24400);
    TestAccount account("ok");
    ASSERT_TRUE(account.ok);
    ASSERT_TRUE(server.start({"+auth", "/sec:tls"})) << server.log();
    const std::string& name = account.name;
    EXPECT_EQ(server.tlsLogin(name, kPassword, name), Outcome::LoggedIn) << server.log();
    EXPECT_TRUE(server.waitFor("Client from 127.0.0.1 is activated"));

    EXPECT_EQ(server.tlsLogin("WORKGROUP\\" + name, "wrong-1", name), Outcome::Refused);
    EXPECT_EQ(server.count("login from 127.0.0.1 as '" + name + "': wrong password (1)"), 1)
        << server.log();
    EXPECT_EQ(server.count("is activated"), 2) << "refused after the connection was made\n"
                                               << server.log();
    EXPECT_EQ(server.tlsLogin(name, "wrong-2", name), Outcome::Refused);
    EXPECT_EQ(server.tlsLogin(name, "wrong-3", name), Outcome::Refused);
    ASSERT_EQ(server.count("as '" + name + "': wrong password (3 in a row): locked out for 30 s"),
              1)
        << server.log();

    const int attempts = server.count("login attempt from 127.0.0.1");
    EXPECT_EQ(server.tlsLogin(name, kPassword, name), Outcome::Refused);
    EXPECT_EQ(server.count("login from 127.0.0.1 refused: locked out for another"), 1)
        << server.log();
    EXPECT_EQ(server.count("login attempt from 127.0.0.1"), attempts)
        << "a locked address gets no account check";
    EXPECT_EQ(server.count(kPassword), 0) << "the password is never logged";
}

TEST(NlaLogins, StoredHashAcceptsTheRightPasswordOnlyAndIsNeverLogged) {
    Server server(43, 24403);
    const std::string hash = winprHash("corvnla", "Nla-Secret-1");
    ASSERT_EQ(hash.size(), 32u);
    ASSERT_TRUE(server.start({"+auth", "+sec-nla"}, {{"MAC_SHADOW_NLA", "corvnla:" + hash}}))
        << server.log();
    EXPECT_TRUE(server.waitFor("Corvane login for NLA clients: user 'corvnla'"));
    EXPECT_EQ(server.nlaLogin("WORKGROUP\\CorvNLA", "Nla-Secret-1"), nlaAcceptedStatus())
        << server.log();
    EXPECT_TRUE(server.waitFor("nla login from 127.0.0.1 as 'corvnla': ok")) << server.log();
    EXPECT_EQ(server.nlaLogin("corvnla", "Nla-Wrong"), kNlaRefused);
    EXPECT_TRUE(server.waitFor("nla login from 127.0.0.1: wrong password (1)")) << server.log();
    EXPECT_EQ(server.count(hash), 0) << "the hash is never logged";
}

TEST(NlaLogins, MalformedValueRefusesNlaWhilePasswordLoginsWork) {
    REQUIRE_ROOT();
    Server server(46, 24406);
    TestAccount account("mf");
    ASSERT_TRUE(account.ok);
    ASSERT_TRUE(server.start({"+auth", "+sec-nla"},
                             {{"MAC_SHADOW_NLA", "corvnla:0123456789abcdef0123456789abcdeX"}}))
        << server.log();
    EXPECT_TRUE(server.waitFor(
        "MAC_SHADOW_NLA is malformed (want user:32 hex digits): NLA logins will be refused"));
    EXPECT_EQ(server.nlaLogin("corvnla", "anything"), kNlaRefused);
    EXPECT_TRUE(server.waitFor("refused, no Corvane login is set")) << server.log();
    EXPECT_EQ(server.tlsLogin(account.name, kPassword, account.name), Outcome::LoggedIn)
        << server.log();
}
