#include "sim_privacy.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace corvane::platform::sim {

namespace {
const char* stateWord(SimPrivacy::State s) {
    return s == SimPrivacy::State::Granted ? "granted" : "denied";
}
} // namespace

void SimPrivacy::setDatabasePath(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    path_ = std::move(path);
}

void SimPrivacy::setBundleId(std::string bundleId) {
    std::lock_guard lock(mutex_);
    bundleId_ = std::move(bundleId);
}

bool SimPrivacy::load(Table& table) {
    std::ifstream in(*path_);
    if (!in)
        return true; // an absent file is an empty database
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string bundle, service, state;
        if (!(words >> bundle >> service >> state))
            continue;
        if (state == "granted")
            table[{bundle, service}] = State::Granted;
        else if (state == "denied")
            table[{bundle, service}] = State::Denied;
    }
    return true;
}

bool SimPrivacy::save(const Table& table) {
    const std::string tmp = *path_ + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        if (!out)
            return false;
        for (const auto& [key, state] : table)
            out << key.first << ' ' << key.second << ' ' << stateWord(state) << '\n';
        if (!out.flush())
            return false;
    }
    return std::rename(tmp.c_str(), path_->c_str()) == 0;
}

bool SimPrivacy::ask(std::string_view service, bool request) {
    std::lock_guard lock(mutex_);
    if (!path_)
        return true;
    Table table;
    load(table);
    const auto key = std::make_pair(bundleId_, std::string(service));
    auto it = table.find(key);
    if (it == table.end()) {
        if (!request)
            return false;
        table[key] = State::Granted;
        save(table);
        return true;
    }
    return it->second == State::Granted;
}

bool SimPrivacy::screenAccess(bool request) {
    if (request)
        ask(kScreenService, true);
    return ask(kScreenService, false);
}

bool SimPrivacy::accessibilityTrusted(bool prompt) {
    return ask(kInputService, prompt);
}

bool SimPrivacy::set(std::string_view bundleId, std::string_view service, State state) {
    std::lock_guard lock(mutex_);
    if (!path_)
        return false;
    Table table;
    load(table);
    const auto key = std::make_pair(std::string(bundleId), std::string(service));
    if (state == State::Undecided)
        table.erase(key);
    else
        table[key] = state;
    return save(table);
}

SimPrivacy::State SimPrivacy::get(std::string_view bundleId, std::string_view service) {
    std::lock_guard lock(mutex_);
    if (!path_)
        return State::Granted;
    Table table;
    load(table);
    auto it = table.find({std::string(bundleId), std::string(service)});
    return it == table.end() ? State::Undecided : it->second;
}

void SimPrivacy::setResetsFail(bool fail) {
    std::lock_guard lock(mutex_);
    resetsFail_ = fail;
}

bool SimPrivacy::reset(std::string_view service, std::string_view bundleId, std::string& message) {
    {
        std::lock_guard lock(mutex_);
        if (resetsFail_) {
            message = "the decision is kept";
            return false;
        }
    }
    if (set(bundleId, service, State::Undecided))
        return true;
    message = path_ ? "cannot write the privacy database " + *path_
                    : std::string("no privacy database configured");
    return false;
}

bool SimPrivacy::openSettings(std::string_view service, std::string&) {
    std::lock_guard lock(mutex_);
    opened_.emplace_back(service);
    return true;
}

std::vector<std::string> SimPrivacy::openedSettings() {
    std::lock_guard lock(mutex_);
    return opened_;
}

} // namespace corvane::platform::sim
