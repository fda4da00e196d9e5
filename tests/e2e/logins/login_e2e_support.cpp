#include "login_e2e_support.h"

#include <unistd.h>

namespace logins_e2e {

namespace {

// useradd and userdel lock the account files; parallel tests may find them
// locked for a moment.
bool runRetrying(const std::vector<std::string>& argv) {
    return waitUntil([&] { return run(argv, {}, 10000ms) == std::optional<int>(0); }, 15000ms,
                     200ms);
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

TestAccount::TestAccount(const std::string& name, const std::string& password) : name_(name) {
    if (!runRetrying({"/usr/sbin/useradd", "-M", "-s", "/usr/sbin/nologin", name}))
        return;
    ok_ = runRetrying(
        {"sh", "-c", "printf '%s:%s\\n' \"$0\" \"$1\" | /usr/sbin/chpasswd", name, password});
}

TestAccount::~TestAccount() {
    runRetrying({"/usr/sbin/userdel", name_});
}

std::string accountName(const std::string& tag) {
    return "corv" + tag + std::to_string(getpid() % 100000);
}

std::string winprHash(const std::string& user, const std::string& password) {
    std::string out;
    if (run({"winpr-hash3", "-u", user, "-p", password}, {}, 10000ms, &out) !=
        std::optional<int>(0))
        return {};
    return trimmed(out);
}

Server::Server(int display, int port) : display_(display, "1024x768x24"), port_(port) {}

Server::~Server() {
    server_.stop();
}

bool Server::start(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& extraEnv) {
    std::map<std::string, std::string> env = isolatedServerEnv(dir_, display_.name());
    for (const auto& [name, value] : extraEnv)
        env[name] = value;
    std::vector<std::string> argv = {CORVANE_SERVER_BIN, "/port:" + std::to_string(port_)};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!server_.start(argv, env, dir_.file("server.log"), dir_.file("server.log")))
        return false;
    return waitUntil([&] { return portOpen(port_); }, 10000ms);
}

std::string Server::log() const {
    return readFile(dir_.file("server.log"));
}

int Server::count(const std::string& text) const {
    const std::string all = log();
    int n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
        n++;
    return n;
}

bool Server::waitFor(const std::string& text, int times, Duration limit) const {
    return waitUntil([&] { return count(text) >= times; }, limit);
}

Server::Outcome Server::tlsLogin(const std::string& user, const std::string& password,
                                 const std::string& account) {
    const std::string okLine = "as '" + account + "': ok";
    const int before = count(okLine);
    const std::string clientLog = dir_.file("client" + std::to_string(++clients_) + ".log");
    Process client;
    if (!client.start({"xfreerdp3", "/v:127.0.0.1:" + std::to_string(port_), "/cert:ignore",
                       "/sec:tls", "/u:" + user, "/p:" + password},
                      {{"DISPLAY", display_.name()}, {"HOME", dir_.path()}}, clientLog, clientLog))
        return Outcome::TimedOut;
    bool ended = false;
    const bool decided = waitUntil(
        [&] {
            if (count(okLine) > before)
                return true;
            ended = !client.running();
            return ended;
        },
        30000ms, 100ms);
    client.stop();
    if (count(okLine) > before)
        return Outcome::LoggedIn;
    return decided && ended ? Outcome::Refused : Outcome::TimedOut;
}

std::optional<int> Server::nlaLogin(const std::string& user, const std::string& password) {
    const std::string clientLog = dir_.file("client" + std::to_string(++clients_) + ".log");
    Process client;
    if (!client.start({"xfreerdp3", "/v:127.0.0.1:" + std::to_string(port_), "/cert:ignore",
                       "/sec:nla", "/u:" + user, "/p:" + password, "/auth-pkg-list:ntlm,!kerberos",
                       "+auth-only"},
                      {{"DISPLAY", ""}, {"HOME", dir_.path()}}, clientLog, clientLog))
        return std::nullopt;
    const std::optional<int> status = client.waitExit(30000ms);
    if (!status)
        client.stop();
    return status;
}

} // namespace logins_e2e
