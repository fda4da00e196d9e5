#include "app/core/control_client.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include <QDateTime>
#include <nlohmann/json.hpp>

namespace corvane::app {

namespace {

using nlohmann::json;

constexpr int kVersion = 1;
constexpr int kRetryMs = 500;
// A line the server would never send: dropped, the connection goes on.
constexpr size_t kMaxLine = 64 * 1024;

std::string text(const json& j, const char* key) {
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// A number of the line, or T{} when it is missing or does not fit: a
// fraction or an out-of-range value for a whole-number field would convert
// wrongly or, for a float, undefinedly.
template <class T> T number(const json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || !it->is_number())
        return T{};
    if constexpr (std::is_floating_point_v<T>) {
        return it->get<T>();
    } else {
        if (it->is_number_unsigned()) {
            const uint64_t v = it->get<uint64_t>();
            return std::in_range<T>(v) ? static_cast<T>(v) : T{};
        }
        if (it->is_number_integer()) {
            const int64_t v = it->get<int64_t>();
            return std::in_range<T>(v) ? static_cast<T>(v) : T{};
        }
        return T{};
    }
}

ClientIdentity identity(const json& j) {
    return {text(j, "account"), text(j, "address"), text(j, "login")};
}

std::string request(const char* type, uint64_t id) {
    return json{{"v", kVersion}, {"type", type}, {"id", id}}.dump();
}

// A prompt's events: a new one joins the end of the list (told again, as
// after a reconnect, it keeps its place and its start); a closed one leaves.
bool applyPromptEvent(std::vector<ControlPrompt>& prompts, const std::string& type, uint64_t id,
                      const json& j) {
    auto it = std::find_if(prompts.begin(), prompts.end(),
                           [id](const ControlPrompt& p) { return p.id == id; });
    if (type == "prompt-closed") {
        if (it == prompts.end())
            return false;
        prompts.erase(it);
        return true;
    }
    if (it != prompts.end())
        return false;
    ControlPrompt p;
    p.id = id;
    p.who = identity(j);
    // A prompt with odd figures is still shown: the host can answer it, and
    // without a countdown it claims nothing about the server's.
    p.timeoutSeconds = std::max(0, number<int>(j, "timeout_s"));
    p.onTimeout = promptAnswerFromName(text(j, "on_timeout")).value_or(PromptAnswer::refuse);
    prompts.push_back(std::move(p));
    return true;
}

} // namespace

std::string promptAnswerName(PromptAnswer answer) {
    switch (answer) {
    case PromptAnswer::allow:
        return "allow";
    case PromptAnswer::viewOnly:
        return "view-only";
    case PromptAnswer::refuse:
        return "refuse";
    }
    return "refuse";
}

std::optional<PromptAnswer> promptAnswerFromName(std::string_view name) {
    for (PromptAnswer answer : {PromptAnswer::allow, PromptAnswer::viewOnly, PromptAnswer::refuse})
        if (promptAnswerName(answer) == name)
            return answer;
    return std::nullopt;
}

const ControlSession* ControlSessions::find(uint64_t id) const {
    auto it = std::find_if(sessions_.begin(), sessions_.end(),
                           [id](const ControlSession& s) { return s.id == id; });
    return it == sessions_.end() ? nullptr : &*it;
}

bool ControlSessions::apply(std::string_view line, int64_t now) {
    const json j = json::parse(line.begin(), line.end(), nullptr, false);
    if (!j.is_object() || number<int64_t>(j, "v") != kVersion)
        return false;
    auto idIt = j.find("id");
    if (idIt == j.end() || !idIt->is_number_unsigned())
        return false;
    const uint64_t id = idIt->get<uint64_t>();
    const std::string type = text(j, "type");
    if (type == "prompt" || type == "prompt-closed")
        return applyPromptEvent(prompts_, type, id, j);
    auto it = std::find_if(sessions_.begin(), sessions_.end(),
                           [id](const ControlSession& s) { return s.id == id; });
    if (type == "client-connecting") {
        if (it != sessions_.end())
            return false;
        ControlSession s;
        s.id = id;
        s.who = identity(j);
        s.connectedAt = now;
        sessions_.push_back(std::move(s));
        return true;
    }
    if (it == sessions_.end())
        return false;
    if (type == "client-ready" || type == "mode") {
        it->ready = it->ready || type == "client-ready";
        it->viewOnly = text(j, "mode") == "view";
    } else if (type == "stats") {
        SessionStats s;
        s.codec = text(j, "codec");
        s.width = number<uint32_t>(j, "width");
        s.height = number<uint32_t>(j, "height");
        s.fps = number<double>(j, "fps");
        s.kbps = number<double>(j, "kbps");
        if (auto rtt = j.find("rtt_ms"); rtt != j.end() && rtt->is_number_unsigned())
            s.roundTripMs = rtt->get<uint32_t>();
        s.framesWaiting = number<uint32_t>(j, "waiting");
        it->stats = s;
        it->history.push_back({now, s.fps, s.kbps});
        while (it->history.front().at < now - kStatsHistorySeconds)
            it->history.pop_front();
    } else if (type == "client-left") {
        sessions_.erase(it);
        // The server closes a left client's prompt itself; this only keeps
        // a window from outliving its client should that event be lost.
        std::erase_if(prompts_, [id](const ControlPrompt& p) { return p.id == id; });
    } else {
        return false;
    }
    return true;
}

std::string setModeRequest(uint64_t id, bool viewOnly) {
    json j = json::parse(request("set-mode", id));
    j["mode"] = viewOnly ? "view" : "control";
    return j.dump();
}

std::string disconnectRequest(uint64_t id) {
    return request("disconnect", id);
}

std::string answerRequest(uint64_t id, PromptAnswer answer) {
    json j = json::parse(request("answer", id));
    j["answer"] = promptAnswerName(answer);
    return j.dump();
}

ControlClient::ControlClient() {
    retry_.setSingleShot(true);
    QObject::connect(&retry_, &QTimer::timeout, [this] { tryConnect(); });
    QObject::connect(&socket_, &QLocalSocket::readyRead, [this] { readLines(); });
    // Not there yet, refused, or gone: tried again while a path is set.
    QObject::connect(&socket_, &QLocalSocket::stateChanged,
                     [this](QLocalSocket::LocalSocketState state) {
                         if (state == QLocalSocket::UnconnectedState && !path_.empty())
                             retry_.start(kRetryMs);
                     });
    QObject::connect(&socket_, &QLocalSocket::disconnected, [this] {
        // The server went (a restart, or a stop): its sessions went with it.
        if (!model_.empty()) {
            model_.clear();
            changed();
        }
    });
}

void ControlClient::connectTo(const std::string& path) {
    stop();
    path_ = path;
    if (!path_.empty())
        tryConnect();
}

void ControlClient::stop() {
    path_.clear();
    retry_.stop();
    socket_.abort();
    pending_.clear();
    if (!model_.empty()) {
        model_.clear();
        changed();
    }
}

bool ControlClient::connected() const {
    return socket_.state() == QLocalSocket::ConnectedState;
}

void ControlClient::tryConnect() {
    if (path_.empty() || socket_.state() != QLocalSocket::UnconnectedState)
        return;
    pending_.clear();
    // A new connection: the server first tells the sessions it has now.
    if (!model_.empty()) {
        model_.clear();
        changed();
    }
    socket_.connectToServer(QString::fromStdString(path_));
}

void ControlClient::readLines() {
    pending_ += socket_.readAll().toStdString();
    bool any = false;
    for (size_t nl; (nl = pending_.find('\n')) != std::string::npos; pending_.erase(0, nl + 1)) {
        const std::string_view line(pending_.data(), nl);
        if (model_.apply(line, QDateTime::currentSecsSinceEpoch())) {
            any = true;
            continue;
        }
        const json j = json::parse(line.begin(), line.end(), nullptr, false);
        const std::string type = j.is_object() ? text(j, "type") : std::string();
        if ((type == "ok" || type == "error") && onReply)
            onReply(type == "ok", text(j, "request"), text(j, "message"));
    }
    if (pending_.size() > kMaxLine)
        pending_.clear();
    if (any)
        changed();
}

void ControlClient::changed() {
    if (onSessionsChanged)
        onSessionsChanged();
}

bool ControlClient::send(const std::string& line) {
    if (!connected())
        return false;
    const std::string out = line + "\n";
    return socket_.write(out.data(), static_cast<qint64>(out.size())) ==
           static_cast<qint64>(out.size());
}

bool ControlClient::setMode(uint64_t id, bool viewOnly) {
    return send(setModeRequest(id, viewOnly));
}

bool ControlClient::disconnectClient(uint64_t id) {
    return send(disconnectRequest(id));
}

bool ControlClient::answer(uint64_t id, PromptAnswer answer) {
    return send(answerRequest(id, answer));
}

} // namespace corvane::app
