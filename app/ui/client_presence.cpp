#include "app/ui/client_presence.h"

#include <algorithm>

#include "app/core/words.h"

namespace corvane::app::ui {

namespace {

std::string aboutClient(Words w, const std::string& account, const std::string& address) {
    return fillWords(fillWords(words(w), "account", account.empty() ? "?" : account), "address",
                     address.empty() ? "?" : address);
}

} // namespace

std::optional<std::string> clientsLine(const std::vector<ControlSession>& sessions) {
    if (sessions.empty())
        return std::nullopt;
    if (sessions.size() == 1)
        return aboutClient(Words::oneClientConnected, sessions[0].who.account, sessions[0].who.address);
    return fillWords(words(Words::clientsConnected), "count", std::to_string(sessions.size()));
}

std::string promptNotice(const ControlPrompt& prompt) {
    return aboutClient(Words::clientAsks, prompt.who.account, prompt.who.address);
}

std::vector<std::string> ClientWatch::update(const std::vector<ControlSession>& sessions) {
    std::vector<std::string> notices;
    auto present = [&](uint64_t id) {
        return std::any_of(sessions.begin(), sessions.end(),
                           [&](const ControlSession& s) { return s.id == id && s.ready; });
    };
    for (auto it = ready_.begin(); it != ready_.end();) {
        if (present(it->id)) {
            ++it;
            continue;
        }
        notices.push_back(aboutClient(Words::clientWent, it->account, it->address));
        it = ready_.erase(it);
    }
    for (const ControlSession& s : sessions) {
        bool known = std::any_of(ready_.begin(), ready_.end(),
                                 [&](const Seen& seen) { return seen.id == s.id; });
        if (!s.ready || known)
            continue;
        ready_.push_back({s.id, s.who.account, s.who.address});
        notices.push_back(aboutClient(Words::clientCame, s.who.account, s.who.address));
    }
    return notices;
}

} // namespace corvane::app::ui
