#include "sim_session.h"

#include <vector>

namespace corvane::platform::sim {

void SimDesktopSession::open(SessionOpened done) {
    std::unique_lock lock(mutex_);
    if (holding_) {
        held_.push_back(std::move(done));
        return;
    }
    if (!refusal_.empty()) {
        const std::string error = refusal_;
        lock.unlock();
        done(false, error);
        return;
    }
    if (!open_) {
        open_ = true;
        ++opens_;
    }
    lock.unlock();
    done(true, {});
}

void SimDesktopSession::close() {
    std::lock_guard lock(mutex_);
    if (!open_)
        return;
    open_ = false;
    ++closes_;
}

void SimDesktopSession::setEndedHandler(SessionEnded handler) {
    std::lock_guard lock(mutex_);
    ended_ = std::move(handler);
}

void SimDesktopSession::refuseOpens(const std::string& error) {
    std::lock_guard lock(mutex_);
    refusal_ = error;
}

void SimDesktopSession::holdOpens(bool hold) {
    std::lock_guard lock(mutex_);
    holding_ = hold;
}

void SimDesktopSession::releaseHeldOpen() {
    std::vector<SessionOpened> held;
    {
        std::lock_guard lock(mutex_);
        held.swap(held_);
    }
    for (auto& done : held)
        done(false, "the sim answered late");
}

bool SimDesktopSession::endFromOutside(const std::string& reason) {
    SessionEnded handler;
    {
        std::lock_guard lock(mutex_);
        if (!open_)
            return false;
        open_ = false;
        handler = ended_;
    }
    if (handler)
        handler(reason);
    return true;
}

bool SimDesktopSession::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

int32_t SimDesktopSession::opens() const {
    std::lock_guard lock(mutex_);
    return opens_;
}

int32_t SimDesktopSession::closes() const {
    std::lock_guard lock(mutex_);
    return closes_;
}

int32_t SimDesktopSession::heldOpens() const {
    std::lock_guard lock(mutex_);
    return static_cast<int32_t>(held_.size());
}

} // namespace corvane::platform::sim
