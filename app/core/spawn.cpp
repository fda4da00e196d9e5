#include "app/core/spawn.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "app/core/main_queue.h"

namespace corvane::app {

// ---- SpawnedProcess ----------------------------------------------------

bool SpawnedProcess::isRunning() const {
    std::lock_guard guard(lock_);
    return !done_;
}

int SpawnedProcess::exitCode() const {
    std::lock_guard guard(lock_);
    int signal = rawStatus_ & 0x7f;
    return signal ? (signal | 0x80) : ((rawStatus_ >> 8) & 0xff);
}

bool SpawnedProcess::killedBySignal() const {
    std::lock_guard guard(lock_);
    return (rawStatus_ & 0x7f) != 0;
}

bool SpawnedProcess::waitExited(double seconds) {
    if (!exited_.try_acquire_for(std::chrono::duration<double>(seconds)))
        return false;
    exited_.release();
    return true;
}

bool SpawnedProcess::wait(double timeout) {
    if (!isRunning())
        return true;
    return waitExited(timeout);
}

bool SpawnedProcess::signalIfRunning(int signal) {
    std::lock_guard guard(lock_);
    if (done_)
        return false;
    return ::kill(pid_, signal) == 0;
}

void SpawnedProcess::terminate(double grace) {
    if (!isRunning())
        return;
    signalIfRunning(SIGTERM);
    if (!isRunning() || waitExited(grace))
        return;
    signalIfRunning(SIGKILL);
    if (!isRunning())
        return;
    waitExited(5.0);
}

void SpawnedProcess::setOnExit(ExitHandler handler) {
    std::lock_guard guard(lock_);
    onExit_ = std::move(handler);
}

SpawnedProcess::ExitHandler SpawnedProcess::onExit() const {
    std::lock_guard guard(lock_);
    return onExit_;
}

// One thread per child. It first waits without reaping (WNOWAIT) and reaps
// under the lock, so `signalIfRunning` never signals a recycled pid.
void watchProcess(std::shared_ptr<SpawnedProcess> process) {
    std::string name = "wait " + std::to_string(process->pid_);
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());

    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(process->pid_), &info, WEXITED | WNOWAIT) == -1 &&
           errno == EINTR) {
    }
    {
        std::lock_guard guard(process->lock_);
        int status = 0;
        while (waitpid(process->pid_, &status, 0) == -1) {
            if (errno != EINTR) {
                status = 0;
                break;
            }
        }
        process->rawStatus_ = status;
        process->done_ = true;
    }
    process->exited_.release();
    postToMain([process] {
        if (auto handler = process->onExit())
            handler(process);
    });
}

// ---- start -------------------------------------------------------------

SpawnFailure::SpawnFailure(int code)
    : std::runtime_error("Could not start the server: " + std::string(std::strerror(code))),
      code_(code) {}

namespace {

// NUL-terminated copies for the C vectors, freed with the object.
class CStringVector {
  public:
    explicit CStringVector(std::vector<std::string> strings) : strings_(std::move(strings)) {
        for (auto& s : strings_)
            pointers_.push_back(s.data());
        pointers_.push_back(nullptr);
    }
    char* const* get() { return pointers_.data(); }

  private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

// A descriptor to hand to the child, moved above 2 when needed so that
// placing 0, 1 and 2 in the child cannot overwrite it first.
class ChildDescriptor {
  public:
    explicit ChildDescriptor(std::optional<int> fd) {
        if (fd && *fd >= 0 && *fd <= 2) {
            fd_ = fcntl(*fd, F_DUPFD_CLOEXEC, 3);
            owned_ = fd_ >= 0;
        } else if (fd) {
            fd_ = *fd;
        }
    }
    ~ChildDescriptor() {
        if (owned_)
            ::close(fd_);
    }
    ChildDescriptor(const ChildDescriptor&) = delete;
    ChildDescriptor& operator=(const ChildDescriptor&) = delete;
    std::optional<int> fd() const { return fd_ >= 0 ? std::optional<int>(fd_) : std::nullopt; }

  private:
    int fd_ = -1;
    bool owned_ = false;
};

void placeOutput(posix_spawn_file_actions_t* actions, const ChildDescriptor& source, int target) {
    if (auto fd = source.fd())
        posix_spawn_file_actions_adddup2(actions, *fd, target);
    else
        posix_spawn_file_actions_addopen(actions, target, "/dev/null", O_WRONLY, 0);
}

// Darwin's responsibility disclaim makes the child answer for its own privacy
// permissions. It is private, so it is looked up by name once; other systems
// have no such thing and spawn without it.
using DisclaimFunction = int (*)(posix_spawnattr_t*, int);
DisclaimFunction disclaimFunction() {
    static DisclaimFunction function = reinterpret_cast<DisclaimFunction>(
        dlsym(RTLD_DEFAULT, "responsibility_spawnattrs_setdisclaim"));
    return function;
}

} // namespace

namespace Spawn {

std::shared_ptr<SpawnedProcess> start(const std::string& path,
                                      const std::vector<std::string>& arguments,
                                      const std::map<std::string, std::string>& environment,
                                      std::optional<int> stdoutFd, std::optional<int> stderrFd,
                                      bool disclaim) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Every signal back to its default action and nothing blocked, whatever
    // the application ignores or masks.
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
    posix_spawnattr_setflags(&attributes, flags);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);

    bool disclaimed = false;
    if (disclaim)
        if (DisclaimFunction function = disclaimFunction())
            disclaimed = function(&attributes, 1) == 0;

    ChildDescriptor out(stdoutFd), err(stderrFd);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    placeOutput(&actions, out, 1);
    placeOutput(&actions, err, 2);
#ifndef POSIX_SPAWN_CLOEXEC_DEFAULT
    // Linux has no close-on-exec-by-default flag; glibc 2.34+ closes every
    // descriptor from 3 up in the child instead, after the moves above.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

    std::vector<std::string> argv{path};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envp;
    for (const auto& [key, value] : environment)
        envp.push_back(key + "=" + value);
    CStringVector argVector(std::move(argv)), envVector(std::move(envp));

    pid_t pid = 0;
    int result =
        posix_spawn(&pid, path.c_str(), &actions, &attributes, argVector.get(), envVector.get());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0)
        throw SpawnFailure(result);

    auto process = std::make_shared<SpawnedProcess>(pid, disclaimed);
    std::thread(watchProcess, process).detach();
    return process;
}

} // namespace Spawn

} // namespace corvane::app
