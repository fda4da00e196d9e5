#include "sim_accounts.h"

#include <cstdlib>

namespace corvane::platform::sim {

SimAccounts::SimAccounts() {
    groups_["admin"] = {};
    if (const char* list = std::getenv("CORVANE_SIM_ACCOUNTS"))
        loadList(list);
}

AccountVerdict SimAccounts::verify(const std::string& account, const std::string& password) {
    std::lock_guard lock(mutex_);
    checks_++;
    if (!available_)
        return {AccountCheck::Unavailable, "sim", 1};
    if (account.empty() || password.empty())
        return {AccountCheck::Wrong, {}, 0};
    const auto it = passwords_.find(account);
    const bool right = it != passwords_.end() && it->second == password;
    return {right ? AccountCheck::Right : AccountCheck::Wrong, {}, 0};
}

void SimAccounts::set(const std::string& account, const std::string& password) {
    std::lock_guard lock(mutex_);
    passwords_[account] = password;
}

void SimAccounts::remove(const std::string& account) {
    std::lock_guard lock(mutex_);
    passwords_.erase(account);
}

int SimAccounts::loadList(std::string_view list) {
    std::map<std::string, std::string> parsed;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view entry = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        const size_t colon = entry.find(':');
        if (colon == std::string_view::npos || colon == 0)
            continue; // an entry without a user name names no account
        parsed[std::string(entry.substr(0, colon))] = std::string(entry.substr(colon + 1));
    }
    std::lock_guard lock(mutex_);
    passwords_ = std::move(parsed);
    return static_cast<int>(passwords_.size());
}

void SimAccounts::setAvailable(bool available) {
    std::lock_guard lock(mutex_);
    available_ = available;
}

int SimAccounts::checks() {
    std::lock_guard lock(mutex_);
    return checks_;
}

std::string SimAccounts::ownAccount() const {
    std::lock_guard lock(mutex_);
    return owner_;
}

std::string SimAccounts::administratorsGroup() const {
    return "admin";
}

std::vector<std::string> SimAccounts::groupsOf(const std::string& account) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [group, members] : groups_)
        if (members.contains(account))
            names.push_back(group);
    return names;
}

bool SimAccounts::groupExists(const std::string& group) const {
    std::lock_guard lock(mutex_);
    return groups_.contains(group);
}

void SimAccounts::setOwner(const std::string& account) {
    std::lock_guard lock(mutex_);
    owner_ = account;
}

void SimAccounts::setGroup(const std::string& group, const std::set<std::string>& members) {
    std::lock_guard lock(mutex_);
    groups_[group] = members;
}

} // namespace corvane::platform::sim
