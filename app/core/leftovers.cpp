// Spawn::stopLeftovers: servers of an earlier run still holding the port.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/core/paths.h"
#include "app/core/spawn.h"

namespace corvane::app::Spawn {

namespace {

std::vector<pid_t> listProcesses() {
    std::vector<pid_t> pids;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return pids;
    while (dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && pid >= 1)
            pids.push_back(static_cast<pid_t>(pid));
    }
    ::closedir(proc);
    return pids;
}

// The executable of a process; empty when it cannot be read (another user's
// process, or one that has ended).
std::string executablePath(pid_t pid) {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    if (error)
        return {};
    std::string text = path.string();
    // A server whose file was replaced by an update is still the server.
    static const std::string deleted = " (deleted)";
    if (text.size() > deleted.size() && text.ends_with(deleted))
        text.resize(text.size() - deleted.size());
    return text;
}

bool exists(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

} // namespace

int stopLeftovers(const std::string& executableSuffix) {
    // An empty suffix would match every process of the user.
    if (executableSuffix.empty())
        return 0;
    const pid_t self = ::getpid();
    std::vector<pid_t> found;
    for (pid_t pid : listProcesses()) {
        if (pid == self)
            continue;
        std::string path = executablePath(pid);
        if (!path.empty() && path.ends_with(executableSuffix))
            found.push_back(pid);
    }
    if (found.empty())
        return 0;

    for (pid_t pid : found)
        ::kill(pid, SIGTERM);
    for (pid_t pid : found) {
        for (int poll = 0; poll < 200 && exists(pid); ++poll)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (exists(pid))
            ::kill(pid, SIGKILL);
    }
    return static_cast<int>(found.size());
}

int stopLeftovers() {
    return stopLeftovers(paths::leftoverServerSuffix());
}

} // namespace corvane::app::Spawn
