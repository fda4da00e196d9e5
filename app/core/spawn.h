// Child processes of the application: the server (long-running, watched),
// the permission probe (short, output captured) and leftovers of earlier runs.
#pragma once
#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::app {

class SpawnedProcess : public std::enable_shared_from_this<SpawnedProcess> {
  public:
    using ExitHandler = std::function<void(const std::shared_ptr<SpawnedProcess>&)>;

    SpawnedProcess(pid_t pid, bool disclaimed) : pid_(pid), disclaimed_(disclaimed) {}

    pid_t pid() const { return pid_; }
    bool disclaimed() const { return disclaimed_; }
    bool isRunning() const;
    // 128 + signal for a child ended by a signal, else its exit status.
    int exitCode() const;
    bool killedBySignal() const;

    // True when the child has been reaped within `timeout` seconds.
    bool wait(double timeout);
    // SIGTERM, up to `grace` seconds, then SIGKILL and up to 5 more seconds.
    void terminate(double grace = 20.0);

    // Called on the main queue once the child has been reaped.
    void setOnExit(ExitHandler handler);

    // Sends `signal` unless the child has been reaped. The child is reaped
    // under the same lock, so its pid can never have been reused meanwhile.
    bool signalIfRunning(int signal);
    // Waits on the exit signal and puts it back for the next waiter.
    bool waitExited(double seconds);

  private:
    friend void watchProcess(std::shared_ptr<SpawnedProcess> process);
    ExitHandler onExit() const;

    const pid_t pid_;
    const bool disclaimed_;
    std::counting_semaphore<> exited_{0};
    mutable std::mutex lock_;
    bool done_ = false;
    int rawStatus_ = 0;
    ExitHandler onExit_;
};

// What `Spawn::start` throws when posix_spawn refuses.
class SpawnFailure : public std::runtime_error {
  public:
    explicit SpawnFailure(int code);
    int code() const { return code_; }

  private:
    int code_;
};

namespace Spawn {

std::shared_ptr<SpawnedProcess> start(const std::string& path,
                                      const std::vector<std::string>& arguments,
                                      const std::map<std::string, std::string>& environment,
                                      std::optional<int> stdoutFd = std::nullopt,
                                      std::optional<int> stderrFd = std::nullopt,
                                      bool disclaim = true);

// Runs a short child and returns its standard output, or nothing when it
// could not be started or did not end within `timeout` seconds.
std::optional<std::string> output(const std::string& path,
                                  const std::vector<std::string>& arguments,
                                  const std::map<std::string, std::string>& environment,
                                  double timeout);

// The server this application started is noted in a record (its pid and
// start time), so that a later run stops that one only: a server the user
// started by hand from the same installation is not ours to stop.
bool recordServer(const std::string& recordPath, pid_t pid);
// Removes the record when it names `pid`.
void forgetServer(const std::string& recordPath, pid_t pid);
// Stops the recorded server when it still runs (same pid, same start time,
// an executable path ending with the suffix, not this process) and removes
// the record; returns how many it stopped.
int stopLeftovers(const std::string& recordPath, const std::string& executableSuffix);
// The same with the application's own record and server path.
bool recordServer(pid_t pid);
void forgetServer(pid_t pid);
int stopLeftovers();

} // namespace Spawn

} // namespace corvane::app
