#include "sim_accounts.h"

#include <cstdlib>

namespace corvane::platform::sim {

SimAccounts::SimAccounts() {
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

} // namespace corvane::platform::sim
