#include "e2e_harness.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace e2e {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ignored);
}

Process::~Process() {
    stop();
}

bool Process::start(const std::vector<std::string>& argv,
                    const std::map<std::string, std::string>& env, const std::string& stdoutPath,
                    const std::string& stderrPath) {
    status_.reset();
    pid_ = fork();
    if (pid_ < 0)
        return false;
    if (pid_ == 0) {
        const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = stderrPath == stdoutPath
                            ? out
                            : open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out, 1);
        dup2(err, 2);
        setpgid(0, 0);
        // A test killed from outside must not leave servers behind.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (const auto& [name, value] : env)
            value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return true;
}

size_t Process::openDescriptors() const {
    std::error_code error;
    size_t count = 0;
    for (auto it =
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

bool Process::running() {
    if (pid_ <= 0 || status_)
        return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return r == 0;
}

void Process::signal(int sig) {
    if (running())
        kill(pid_, sig);
}

std::optional<int> Process::waitExit(Duration limit) {
    waitUntil([this] { return !running(); }, limit, 10ms);
    return status_;
}

void Process::stop() {
    if (!running())
        return;
    kill(pid_, SIGTERM);
    if (!waitExit(1000ms)) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        waitExit(2000ms);
    }
}

// A display whose lock names a running process belongs to someone else; a
// lock or socket left by a server that died may be cleared.
bool displayInUse(int display) {
    const std::string lock = "/tmp/.X" + std::to_string(display) + "-lock";
    const std::string text = readFile(lock);
    const long pid = std::strtol(text.c_str(), nullptr, 10);
    if (pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
        return true;
    ::unlink(lock.c_str());
    ::unlink(("/tmp/.X11-unix/X" + std::to_string(display)).c_str());
    return false;
}

Xvfb::Xvfb(int display, const std::string& geometry, int last)
    : display_(display), geometry_(geometry) {
    for (int n = display; n <= std::max(display, last) && !ok_; ++n) {
        display_ = n;
        ok_ = start();
    }
    if (!ok_)
        std::fprintf(stderr, "e2e: no X server came up on :%d-:%d\n", display,
                     std::max(display, last));
}

bool Xvfb::start() {
    if (displayInUse(display_)) {
        std::fprintf(stderr, "e2e: display :%d is in use by another X server\n", display_);
        return false;
    }
    process_.start({"Xvfb", name(), "-screen", "0", geometry_, "-nolisten", "tcp", "-noreset"}, {},
                   dir_.file("xvfb.log"), dir_.file("xvfb.log"));
    // Xvfb itself ends when another one took the display meanwhile.
    bool up = false;
    waitUntil(
        [&] {
            // The display must be this Xvfb's: one that lost the race for it
            // may still run while another answers on it.
            up = process_.running() &&
                 std::strtol(readFile("/tmp/.X" + std::to_string(display_) + "-lock").c_str(),
                             nullptr, 10) == process_.pid() &&
                 run({"xdpyinfo", "-display", name()}, {}, 2000ms) == std::optional<int>(0);
            return up || !process_.running();
        },
        10000ms, 100ms);
    if (up)
        return true;
    process_.stop();
    return false;
}

Xvfb::~Xvfb() {
    process_.stop();
}

void Xvfb::kill() {
    process_.signal(SIGKILL);
    process_.waitExit(5000ms);
}

bool Xvfb::restart() {
    kill();
    return ok_ = start();
}

bool Xvfb::restart(const std::string& geometry) {
    geometry_ = geometry;
    return restart();
}

std::map<std::string, std::string> isolatedServerEnv(const TempDir& dir,
                                                     const std::string& display) {
    return {{"HOME", dir.path()},
            {"XDG_RUNTIME_DIR", dir.path()},
            {"XDG_CONFIG_HOME", dir.file("config")},
            {"DISPLAY", display},
            {"CORVANE_PLATFORM", ""},
            {"MAC_SHADOW_PERMS", ""},
            {"MAC_SHADOW_NLA", ""},
            {"MAC_SHADOW_STATS_FILE", ""},
            {"PULSE_SERVER", ""}};
}

Env merged(Env base, const Env& over) {
    for (const auto& [name, value] : over)
        base[name] = value;
    return base;
}

bool waitUntil(const std::function<bool()>& condition, Duration limit, Duration step) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(step);
    }
}

bool portOpen(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool fileContains(const std::string& path, const std::string& text) {
    return readFile(path).find(text) != std::string::npos;
}

bool writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out.flush());
}

std::optional<int> run(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env, Duration limit,
                       std::string* output) {
    TempDir dir;
    Process p;
    if (!p.start(argv, env, dir.file("out"), dir.file("out")))
        return std::nullopt;
    auto status = p.waitExit(limit);
    if (!status)
        p.stop();
    if (output)
        *output = readFile(dir.file("out"));
    return status;
}

bool xdotool(const Env& env, std::vector<std::string> args, std::string* out) {
    args.insert(args.begin(), "xdotool");
    return run(args, env, 5000ms, out) == std::optional<int>(0);
}

bool clipboardCopy(Process& holder, const std::string& display, const std::string& file,
                   const std::string& type, const TempDir& logs) {
    return holder.start({"xclip", "-quiet", "-selection", "clipboard", "-t", type, "-i", file},
                        {{"DISPLAY", display}}, logs.file("xclip.log"), logs.file("xclip.log"));
}

std::optional<std::string> clipboardPaste(const std::string& display, const std::string& type) {
    std::string out;
    if (run({"xclip", "-selection", "clipboard", "-t", type, "-o"}, {{"DISPLAY", display}}, 3000ms,
            &out) != std::optional<int>(0))
        return std::nullopt;
    return out;
}

bool makePicture(const std::vector<std::string>& args, const std::string& out) {
    std::vector<std::string> argv = {"/usr/bin/convert"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(out);
    return run(argv, {}, 20000ms) == std::optional<int>(0);
}

std::string differingPixels(const std::string& a, const std::string& b) {
    std::string metric;
    run({"/usr/bin/compare", "-metric", "AE", a, b, "null:"}, {}, 10000ms, &metric);
    return metric;
}

const std::vector<uint8_t> kX224Tls = {0x03, 0x00, 0x00, 0x13, 0x0e, 0xe0, 0x00, 0x00, 0x00, 0x00,
                                       0x00, 0x01, 0x00, 0x08, 0x00, 0x03, 0x00, 0x00, 0x00};

int connectFrom(const std::string& source, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in from{}, to{};
    from.sin_family = to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const void* bytes, size_t size) {
    const auto* at = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t n = send(fd, at, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        at += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

double benchFigure(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size() + 1);
}

double longestPublishMs(const std::string& log) {
    const std::string key = "publish (waiting for clients) avg ";
    double longest = -1;
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
        const size_t max = log.find(" max ", at);
        if (max != std::string::npos)
            longest = std::max(longest, std::atof(log.c_str() + max + 5));
    }
    return longest;
}

} // namespace e2e
