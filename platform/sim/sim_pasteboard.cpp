#include "sim_pasteboard.h"

namespace corvane::platform::sim {

int64_t SimPasteboard::changeCount() {
    std::lock_guard lock(mutex_);
    return changeCount_;
}

uint32_t SimPasteboard::types() {
    std::lock_guard lock(mutex_);
    uint32_t mask = 0;
    for (const auto& [type, data] : items_)
        mask |= static_cast<uint32_t>(type);
    return mask;
}

std::optional<std::vector<uint8_t>> SimPasteboard::read(PasteboardType type) {
    std::lock_guard lock(mutex_);
    const auto it = items_.find(type);
    if (it == items_.end())
        return std::nullopt;
    return it->second;
}

bool SimPasteboard::write(PasteboardType type, std::vector<uint8_t> data) {
    std::lock_guard lock(mutex_);
    ++writes_;
    if (refuse_)
        return false;
    items_.clear();
    items_[type] = std::move(data);
    ++changeCount_;
    return true;
}

void SimPasteboard::putFromDesktop(std::map<PasteboardType, std::vector<uint8_t>> items) {
    std::lock_guard lock(mutex_);
    items_ = std::move(items);
    ++changeCount_;
}

void SimPasteboard::setRefuseWrites(bool refuse) {
    std::lock_guard lock(mutex_);
    refuse_ = refuse;
}

int SimPasteboard::writes() {
    std::lock_guard lock(mutex_);
    return writes_;
}

} // namespace corvane::platform::sim
