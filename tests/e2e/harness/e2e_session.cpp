#include "e2e_session.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include <gtest/gtest.h>

namespace e2e {

const std::string kServerBin = CORVANE_SERVER_BIN;

namespace {

int failuresSoFar() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    int n = 0;
    for (int i = 0; test && i < test->result()->total_part_count(); ++i)
        n += test->result()->GetTestPartResult(i).failed() ? 1 : 0;
    return n;
}

} // namespace

Session::Session(const Suite& suite, const std::string& serverGeometry,
                 const std::string& clientGeometry)
    : slot_(suite), failuresBefore_(failuresSoFar()) {
    if (!slot_.ok())
        return;
    if (!serverGeometry.empty())
        serverX_ = std::make_unique<Xvfb>(slot_.display(0), serverGeometry);
    if (!clientGeometry.empty())
        clientX_ = std::make_unique<Xvfb>(slot_.display(1), clientGeometry);
}

Session::Session(const Suite& suite, const OnGnome& desktop, const std::string& clientGeometry)
    : slot_(suite), failuresBefore_(failuresSoFar()) {
    if (!slot_.ok())
        return;
    gnome_ = std::make_unique<GnomeDesktop>(dir_, desktop.size);
    if (!clientGeometry.empty())
        clientX_ = std::make_unique<Xvfb>(slot_.display(1), clientGeometry);
}

namespace {

// The signal of a fault (not of a stop) that ended a process, if one did.
std::optional<int> faultSignal(Process& process) {
    const std::optional<int> status = process.waitExit(0ms);
    const int signal = status && *status > 128 ? *status - 128 : 0;
    for (const int fault : {SIGSEGV, SIGFPE, SIGBUS, SIGILL, SIGABRT})
        if (signal == fault)
            return signal;
    return std::nullopt;
}

} // namespace

Session::~Session() {
    const bool clientWasRunning = client_.running();
    client_.stop();
    server_.stop();
    // Also a crash after the case's last check, or on the way out, fails it.
    if (const auto signal = faultSignal(server_))
        ADD_FAILURE() << "the server died of signal " << *signal << " (" << strsignal(*signal)
                      << ")";
    // The desktop goes after the server that shares it.
    const std::string desktopLog = gnome_ ? gnome_->logTail() : "";
    gnome_.reset();
    if (failuresSoFar() <= failuresBefore_)
        return;
    if (!desktopLog.empty())
        std::fprintf(stderr, "---- GNOME desktop logs ----\n%s---- end ----\n", desktopLog.c_str());
    std::fprintf(stderr, "---- server log (port %d, display %s) ----\n%s---- end ----\n", port(),
                 serverDisplay().c_str(), serverLog().c_str());
    // The client's last lines: a client that left on its own says why there.
    const std::string client = clientLog();
    const size_t from = client.size() > 6000 ? client.size() - 6000 : 0;
    std::fprintf(stderr, "---- client log (%s at the end) ----\n%s---- end ----\n",
                 clientWasRunning ? "running" : "gone", client.substr(from).c_str());
}

bool Session::ok() const {
    return slot_.ok() && (!serverX_ || serverX_->ok()) && (!clientX_ || clientX_->ok()) &&
           (!gnome_ || gnome_->ok());
}

std::string Session::serverDisplay() const {
    return serverX_ ? serverX_->name() : "";
}

bool Session::startServer(const std::vector<std::string>& args, const Env& env) {
    Env base = isolatedServerEnv(dir_, serverDisplay());
    if (gnome_) {
        // The desktop's runtime folder (PipeWire's and mutter's sockets), bus
        // and sound server; HOME and the configuration stay the session's.
        Env desktop = gnome_->env();
        for (const char* own :
             {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
            desktop.erase(own);
        base = merged(merged(base, desktop), {{"CORVANE_PLATFORM", "gnome"}});
    }
    const Env all = merged(base, env);
    std::vector<std::string> argv = {kServerBin, "/port:" + std::to_string(port())};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!server_.start(argv, all, dir_.file("server.log"), dir_.file("server.log")))
        return false;
    // A loaded machine can take seconds to get there.
    waitUntil([&] { return !server_.running() || portOpen(port()); }, 30000ms);
    return server_.running() && portOpen(port());
}

std::vector<std::string> Session::clientCommand(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {"xfreerdp3", "/v:127.0.0.1:" + std::to_string(port()),
                                     "/cert:ignore"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

Env Session::clientEnv() const {
    return {{"DISPLAY", clientDisplay()}, {"HOME", dir_.path()}, {"XDG_RUNTIME_DIR", dir_.path()}};
}

std::string Session::clientWindowId() const {
    std::string out;
    if (run({"xdotool", "search", "--onlyvisible", "--class", "xfreerdp"}, clientEnv(), 5000ms,
            &out) != std::optional<int>(0))
        return {};
    return out.substr(0, out.find('\n'));
}

bool Session::startClient(const std::vector<std::string>& args, const Env& env) {
    return client_.start(clientCommand(args), merged(clientEnv(), env), dir_.file("client.log"),
                         dir_.file("client.log"));
}

int Session::logCount(const std::string& text) const {
    const std::string log = serverLog();
    int n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        ++n;
    return n;
}

bool Session::serverSays(const std::string& text, Duration limit) const {
    return waitUntil([&] { return fileContains(dir_.file("server.log"), text); }, limit);
}

bool Session::clientShows(uint32_t rgb, int x, int y, Duration limit, int tolerance) {
    auto near = [&](uint32_t a, int shift) {
        return std::abs(int((a >> shift) & 0xff) - int((rgb >> shift) & 0xff)) <= tolerance;
    };
    return waitUntil(
        [&] {
            const auto at = pixelAt(clientDisplay(), x, y);
            return at && near(*at, 16) && near(*at, 8) && near(*at, 0);
        },
        limit, 100ms);
}

std::string Session::hookUnverified(const std::string& hook) const {
    serverSays("extensions on with FreeRDP", 10000ms);
    const std::string log = serverLog();
    const std::string prefix = "extension " + hook + " is off: ";
    const size_t at = log.find(prefix);
    if (at == std::string::npos)
        return "";
    const std::string line = log.substr(at, log.find('\n', at) - at);
    const std::string why = line.substr(prefix.size());
    if (why.rfind("not verified on FreeRDP", 0) == 0)
        return line;
    const std::string needs = "it needs ";
    if (why.rfind(needs, 0) != 0)
        return "";
    const std::string base = why.substr(needs.size(), why.find(',') - needs.size());
    const std::string baseWhy = base == hook ? "" : hookUnverified(base);
    return baseWhy.empty() ? "" : line + " (" + baseWhy + ")";
}

std::string winprHash(const std::string& user, const std::string& password) {
    std::string out;
    if (run({"winpr-hash3", "-u", user, "-p", password}, {}, 10000ms, &out) !=
        std::optional<int>(0))
        return {};
    return out.substr(0, out.find_last_not_of(" \n") + 1);
}

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

} // namespace e2e
