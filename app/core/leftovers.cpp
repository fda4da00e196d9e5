// Spawn::stopLeftovers: the server an earlier run of the application started
// and left running (it would hold the port).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "app/core/paths.h"
#include "app/core/spawn.h"

namespace corvane::app::Spawn {

namespace {

struct Record {
    pid_t pid = 0;
    unsigned long long startTicks = 0;
};

// When the process started, in clock ticks after boot (the 22nd field of
// /proc/PID/stat, counted after the command name, which may hold spaces);
// nothing when the process has ended.
std::optional<unsigned long long> startTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return std::nullopt;
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(line.substr(close + 1));
    fields.imbue(std::locale::classic());
    std::string field;
    for (int index = 3; index < 22 && fields >> field; ++index) {
    }
    unsigned long long ticks = 0;
    if (!(fields >> ticks))
        return std::nullopt;
    return ticks;
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

std::optional<Record> readRecord(const std::string& recordPath) {
    std::ifstream file(recordPath);
    file.imbue(std::locale::classic());
    Record record;
    long long pid = 0;
    if (!(file >> pid >> record.startTicks) || pid < 1)
        return std::nullopt;
    record.pid = static_cast<pid_t>(pid);
    return record;
}

// The recorded process, if it is still the one that was recorded.
bool stillTheRecordedServer(const Record& record, const std::string& executableSuffix) {
    if (record.pid == ::getpid() || executableSuffix.empty())
        return false;
    const std::string path = executablePath(record.pid);
    return startTicks(record.pid) == record.startTicks && !path.empty() &&
           path.ends_with(executableSuffix);
}

bool exists(pid_t pid) {
    return ::kill(pid, 0) == 0;
}

} // namespace

bool recordServer(const std::string& recordPath, pid_t pid) {
    const std::optional<unsigned long long> ticks = startTicks(pid);
    if (!ticks)
        return false;
    paths::makePrivateDirectories(std::filesystem::path(recordPath).parent_path().string());
    const std::string text = std::to_string(pid) + " " + std::to_string(*ticks) + "\n";
    const int fd = ::open(recordPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return written;
}

void forgetServer(const std::string& recordPath, pid_t pid) {
    const std::optional<Record> record = readRecord(recordPath);
    if (record && record->pid == pid)
        std::filesystem::remove(recordPath);
}

int stopLeftovers(const std::string& recordPath, const std::string& executableSuffix) {
    const std::optional<Record> record = readRecord(recordPath);
    std::error_code error;
    std::filesystem::remove(recordPath, error);
    if (!record || !stillTheRecordedServer(*record, executableSuffix))
        return 0;
    ::kill(record->pid, SIGTERM);
    for (int poll = 0; poll < 200 && exists(record->pid); ++poll)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (exists(record->pid))
        ::kill(record->pid, SIGKILL);
    return 1;
}

bool recordServer(pid_t pid) {
    return recordServer(paths::serverRecordPath(), pid);
}

void forgetServer(pid_t pid) {
    forgetServer(paths::serverRecordPath(), pid);
}

int stopLeftovers() {
    return stopLeftovers(paths::serverRecordPath(), paths::leftoverServerSuffix());
}

} // namespace corvane::app::Spawn
