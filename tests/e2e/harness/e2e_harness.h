// Helpers for end-to-end tests: temporary folders, child processes with
// their output in files, a private Xvfb, and polling for readiness.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "e2e_suites.h"

namespace e2e {

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;
using Env = std::map<std::string, std::string>;

class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A child process whose standard output and error go to files.
class Process {
  public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    // Starts argv[0] (searched on PATH) with the current environment plus
    // `env` (an empty value removes the variable).
    bool start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               const std::string& stdoutPath, const std::string& stderrPath);
    pid_t pid() const { return pid_; }
    // How many descriptors the running process holds open.
    size_t openDescriptors() const;
    bool running();
    void signal(int sig);
    // The exit status (or 128 + signal) once the process ended within the
    // time limit; nothing when it is still running.
    std::optional<int> waitExit(Duration limit);
    // Ends the process: SIGTERM, then SIGKILL after a second.
    void stop();

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// A private X server for one test, on `display` or, when `last` is given,
// on the first display of display..last that is free and comes up.
class Xvfb {
  public:
    Xvfb(int display, const std::string& geometry, int last = 0);
    // On the first free display of a suite's row.
    Xvfb(const Suite& suite, const std::string& geometry)
        : Xvfb(suite.firstDisplay, geometry, suite.lastDisplay) {}
    ~Xvfb();
    bool ok() const { return ok_; }
    std::string name() const { return ":" + std::to_string(display_); }
    // Ends the X server at once, as a crash would.
    void kill();
    // A new X server on the same display, as when a session brings back the
    // one that crashed; with a geometry, its screen has that size.
    bool restart();
    bool restart(const std::string& geometry);

  private:
    bool start();
    int display_;
    std::string geometry_;
    bool ok_ = false;
    Process process_;
    TempDir dir_;
};

// Whether a running X server holds the display; the lock and socket of one
// that died are cleared.
bool displayInUse(int display);

// The environment of a server under test: its own HOME, runtime and config
// folders, the given display, and none of the variables that would change
// what the test expects (an empty value removes a variable).
std::map<std::string, std::string> isolatedServerEnv(const TempDir& dir,
                                                     const std::string& display);

// `base` with the variables of `over` set (or, when empty, removed) on top.
Env merged(Env base, const Env& over);

bool waitUntil(const std::function<bool()>& condition, Duration limit, Duration step = 50ms);
// Whether something listens on the port of 127.0.0.1.
bool portOpen(int port);
std::string readFile(const std::string& path);
bool fileContains(const std::string& path, const std::string& text);
bool writeFile(const std::string& path, const std::string& content);
// Runs a command to completion within the limit; its exit status, or
// nothing on time-out (the command is then killed).
std::optional<int> run(const std::vector<std::string>& argv,
                       const std::map<std::string, std::string>& env, Duration limit,
                       std::string* output = nullptr);

// xdotool with the arguments; true when it succeeded.
bool xdotool(const Env& env, std::vector<std::string> args, std::string* out = nullptr);
// Serves a file on the display's clipboard in the given type (xclip in the
// foreground, until another program takes the clipboard).
bool clipboardCopy(Process& holder, const std::string& display, const std::string& file,
                   const std::string& type, const TempDir& logs);
// The display's clipboard in the given type, or nothing.
std::optional<std::string> clipboardPaste(const std::string& display, const std::string& type);
// ImageMagick's convert with the arguments, writing `out`.
bool makePicture(const std::vector<std::string>& args, const std::string& out);
// How many pixels differ between two pictures, as ImageMagick's compare says.
std::string differingPixels(const std::string& a, const std::string& b);

// An X.224 connection request asking for TLS.
extern const std::vector<uint8_t> kX224Tls;
// A TCP connection to 127.0.0.1's port from a 127.x source address (other
// 127.x addresses stand in for other hosts); -1 on failure.
int connectFrom(const std::string& source, int port);
bool sendAll(int fd, const void* bytes, size_t size);
inline bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
    return sendAll(fd, bytes.data(), bytes.size());
}

// "key=value" out of a bench tool's output line; -1 when it is not there.
double benchFigure(const std::string& text, const std::string& key);
// The longest publication in the server's capture statistics lines of `log`
// (ms); -1 when there is none.
double longestPublishMs(const std::string& log);

} // namespace e2e
