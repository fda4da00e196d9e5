#include "app/ui/server_keeper.h"

#include "app/ui/supervision.h"

namespace corvane::app::ui {

void ServerKeeper::adopt(std::shared_ptr<SpawnedProcess> process) {
    process_ = std::move(process);
    startedAt_ = clock_.now();
}

bool ServerKeeper::release(const std::shared_ptr<SpawnedProcess>& ended) {
    if (!ended || process_ != ended)
        return false;
    process_.reset();
    return true;
}

std::string ServerKeeper::scheduleRestart(std::function<void()> restart) {
    unexpectedEnds_ = unexpectedEndsAfter(unexpectedEnds_, clock_.now() - startedAt_);
    const double delay = serverRestartDelay(unexpectedEnds_);
    // The spent one-shot timer stays until the next schedule replaces it:
    // `restart` may run inside its tick.
    restartTimer_ = clock_.makeTimer();
    restartTimer_->start(delay, false, std::move(restart));
    return restartLogLine(delay, unexpectedEnds_);
}

bool ServerKeeper::stop() {
    restartTimer_.reset();
    if (!process_)
        return false;
    // Let go first: the end handler then sees a process no longer held.
    std::shared_ptr<SpawnedProcess> process = std::move(process_);
    process_.reset();
    process->terminate();
    return true;
}

} // namespace corvane::app::ui
