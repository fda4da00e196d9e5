#include "sim_presence.h"

namespace corvane::platform::sim {

PresenceReading SimPresence::read() {
    std::lock_guard lock(mutex_);
    return reading_;
}

bool SimPresence::lockSession(std::string& how) {
    std::lock_guard lock(mutex_);
    if (lockFails_) {
        how = "the sim session cannot be locked";
        return false;
    }
    ++locks_;
    reading_.lockedKnown = reading_.locked = true;
    how = "the sim session";
    return true;
}

void SimPresence::set(const PresenceReading& reading) {
    std::lock_guard lock(mutex_);
    reading_ = reading;
}

void SimPresence::setLockFails(bool fails) {
    std::lock_guard lock(mutex_);
    lockFails_ = fails;
}

int SimPresence::locks() {
    std::lock_guard lock(mutex_);
    return locks_;
}

} // namespace corvane::platform::sim
