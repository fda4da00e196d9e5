#include "sim_power.h"

namespace corvane::platform::sim {

bool SimPower::displayAsleep() {
    std::lock_guard lock(mutex_);
    return asleep_;
}

void SimPower::wakeStep() {
    if (!asleep_ || wakeAfter_ < 0)
        return;
    if (wakeAfter_ == 0)
        asleep_ = false;
    else
        --wakeAfter_;
}

void SimPower::nudgePointer() {
    std::lock_guard lock(mutex_);
    ++nudges_;
    wakeStep();
}

uint32_t SimPower::createAssertion(AssertionKind kind, std::string_view name) {
    std::lock_guard lock(mutex_);
    if (fail_)
        return 0;
    const char* prefix = kind == AssertionKind::PreventDisplaySleep ? "display:" : "system:";
    held_[nextId_] = prefix + std::string(name);
    return nextId_++;
}

void SimPower::releaseAssertion(uint32_t id) {
    std::lock_guard lock(mutex_);
    held_.erase(id);
}

uint32_t SimPower::declareUserActivity(std::string_view name) {
    std::lock_guard lock(mutex_);
    declarations_.push_back("user:" + std::string(name));
    wakeStep();
    return nextId_++;
}

uint32_t SimPower::declareSystemActivity(std::string_view name) {
    std::lock_guard lock(mutex_);
    declarations_.push_back("system:" + std::string(name));
    return nextId_++;
}

void SimPower::setAsleep(bool asleep) {
    std::lock_guard lock(mutex_);
    asleep_ = asleep;
}

void SimPower::setWakeAfter(int declarations) {
    std::lock_guard lock(mutex_);
    wakeAfter_ = declarations;
}

void SimPower::setAssertionsFail(bool fail) {
    std::lock_guard lock(mutex_);
    fail_ = fail;
}

std::vector<std::string> SimPower::heldAssertions() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [id, name] : held_)
        names.push_back(name);
    return names;
}

std::vector<std::string> SimPower::declarations() {
    std::lock_guard lock(mutex_);
    return declarations_;
}

int SimPower::nudges() {
    std::lock_guard lock(mutex_);
    return nudges_;
}

} // namespace corvane::platform::sim
