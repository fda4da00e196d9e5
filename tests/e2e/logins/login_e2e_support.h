// Pieces of the login end-to-end tests: a local account made for one test,
// the real server on a private Xvfb, and the real FreeRDP client logging in
// over TLS (password) or NLA (+auth-only).
#pragma once
#include <map>
#include <string>
#include <vector>

#include "e2e_harness.h"

namespace logins_e2e {

using namespace e2e;

// xfreerdp3 +auth-only exit statuses.
constexpr int kNlaAccepted = 131;
constexpr int kNlaRefused = 132;

// A local account with a password, removed again at the end. Needs root.
class TestAccount {
  public:
    TestAccount(const std::string& name, const std::string& password);
    ~TestAccount();
    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }

  private:
    std::string name_;
    bool ok_ = false;
};

// A unique account name for this process and test.
std::string accountName(const std::string& tag);
// The NT hash as WinPR's own hash tool prints it; empty on failure.
std::string winprHash(const std::string& user, const std::string& password);

class Server {
  public:
    Server(int display, int port);
    ~Server();
    // Starts the server with the arguments (after /port) and extra
    // environment; true once its port answers.
    bool start(const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {});
    int port() const { return port_; }
    std::string log() const;
    int count(const std::string& text) const;
    bool waitFor(const std::string& text, int times = 1, Duration limit = 15000ms) const;
    bool displayOk() const { return display_.ok(); }

    enum class Outcome { LoggedIn, Refused, TimedOut };
    // A TLS password login with the real client; LoggedIn once the server
    // logged "as '<account>': ok", Refused when the client ended without it.
    Outcome tlsLogin(const std::string& user, const std::string& password,
                     const std::string& account);
    // An NLA login with +auth-only; the client's exit status.
    std::optional<int> nlaLogin(const std::string& user, const std::string& password);

  private:
    Xvfb display_;
    TempDir dir_;
    Process server_;
    int port_;
    int clients_ = 0;
};

} // namespace logins_e2e
