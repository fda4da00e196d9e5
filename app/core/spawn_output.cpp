// Spawn::output: a short child whose standard output is the answer.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QString>
#include <thread>

#include "app/core/spawn.h"

namespace corvane::app::Spawn {

namespace {

// What the pipe reader has collected; shared with its thread so that a
// reader still blocked on a pipe held open by a grandchild stays valid.
struct PipeCapture {
    std::mutex lock;
    std::string bytes;
    std::binary_semaphore finished{0};

    std::string snapshot() {
        std::lock_guard guard(lock);
        return bytes;
    }
};

void readToEnd(int fd, std::shared_ptr<PipeCapture> capture) {
    char buffer[4096];
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        std::lock_guard guard(capture->lock);
        capture->bytes.append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    capture->finished.release();
}

// SIGTERM, a second to go, then SIGKILL and up to five more seconds.
void stopOverdueChild(SpawnedProcess& process) {
    process.signalIfRunning(SIGTERM);
    if (!process.isRunning() || process.waitExited(1.0))
        return;
    process.signalIfRunning(SIGKILL);
    if (process.isRunning())
        process.waitExited(5.0);
}

std::string decodedUtf8(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
}

} // namespace

std::optional<std::string> output(const std::string& path,
                                  const std::vector<std::string>& arguments,
                                  const std::map<std::string, std::string>& environment,
                                  double timeout) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return std::nullopt;
    std::shared_ptr<SpawnedProcess> process;
    try {
        process = start(path, arguments, environment, fds[1], std::nullopt, true);
    } catch (const SpawnFailure&) {
        ::close(fds[0]);
        ::close(fds[1]);
        return std::nullopt;
    }
    ::close(fds[1]);

    auto capture = std::make_shared<PipeCapture>();
    std::thread(readToEnd, fds[0], capture).detach();

    constexpr auto readGrace = std::chrono::seconds(2);
    if (process->isRunning() && !process->waitExited(timeout)) {
        stopOverdueChild(*process);
        capture->finished.try_acquire_for(readGrace);
        return std::nullopt;
    }
    // A child that ended in time gives its output even when the reader has
    // not finished (a grandchild may hold the pipe open).
    capture->finished.try_acquire_for(readGrace);
    return decodedUtf8(capture->snapshot());
}

} // namespace corvane::app::Spawn
