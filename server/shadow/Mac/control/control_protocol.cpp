#include "control_protocol.h"

#include <nlohmann/json.hpp>

namespace mac_control {

namespace {

using nlohmann::json;

std::string line(const json& object) {
    // Invalid UTF-8 in a client-sent name is replaced rather than refused:
    // the event still goes out.
    return object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

json event(const char* type, uint64_t client) {
    return json{{"v", kVersion}, {"type", type}, {"id", client}};
}

std::optional<uint64_t> clientId(const json& object) {
    auto it = object.find("id");
    if (it == object.end() || !it->is_number_unsigned())
        return std::nullopt;
    return it->get<uint64_t>();
}

std::optional<std::string> text(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

} // namespace

Parsed parseRequest(std::string_view in) {
    if (in.size() > kMaxLine)
        return ParseError{"line longer than 64 KiB", ""};
    json object = json::parse(in.begin(), in.end(), nullptr, false);
    if (object.is_discarded())
        return ParseError{"not JSON", ""};
    if (!object.is_object())
        return ParseError{"not a JSON object", ""};
    auto type = text(object, "type");
    if (!type)
        return ParseError{"no type", ""};
    auto version = object.find("v");
    if (version == object.end() || !version->is_number_integer() ||
        version->get<int64_t>() != kVersion)
        return ParseError{"unsupported version (this server speaks 1)", *type};
    if (*type != "set-mode" && *type != "disconnect" && *type != "answer")
        return ParseError{"unknown type", *type};
    auto client = clientId(object);
    if (!client)
        return ParseError{"no client id", *type};
    if (*type == "disconnect")
        return Request{Disconnect{*client}};
    if (*type == "set-mode") {
        auto mode = text(object, "mode");
        if (mode == "view")
            return Request{SetMode{*client, ClientMode::View}};
        if (mode == "control")
            return Request{SetMode{*client, ClientMode::Control}};
        return ParseError{"mode must be \"view\" or \"control\"", *type};
    }
    auto answer = text(object, "answer");
    if (answer == "allow")
        return Request{AnswerPrompt{*client, Answer::Allow}};
    if (answer == "view-only")
        return Request{AnswerPrompt{*client, Answer::ViewOnly}};
    if (answer == "refuse")
        return Request{AnswerPrompt{*client, Answer::Refuse}};
    return ParseError{"answer must be \"allow\", \"view-only\" or \"refuse\"", *type};
}

const char* requestType(const Request& request) {
    switch (request.index()) {
    case 0:
        return "set-mode";
    case 1:
        return "disconnect";
    default:
        return "answer";
    }
}

uint64_t requestClient(const Request& request) {
    return std::visit([](const auto& r) { return r.client; }, request);
}

const char* modeName(ClientMode mode) {
    return mode == ClientMode::View ? "view" : "control";
}

std::string connectingEvent(uint64_t client, std::string_view address, std::string_view account,
                            std::string_view login) {
    json e = event("client-connecting", client);
    e["address"] = address;
    e["account"] = account;
    e["login"] = login;
    return line(e);
}

std::string readyEvent(uint64_t client, ClientMode mode) {
    json e = event("client-ready", client);
    e["mode"] = modeName(mode);
    return line(e);
}

std::string modeEvent(uint64_t client, ClientMode mode) {
    json e = event("mode", client);
    e["mode"] = modeName(mode);
    return line(e);
}

std::string leftEvent(uint64_t client, std::string_view reason) {
    json e = event("client-left", client);
    e["reason"] = reason;
    return line(e);
}

const char* answerName(Answer answer) {
    switch (answer) {
    case Answer::Allow:
        return "allow";
    case Answer::ViewOnly:
        return "view-only";
    default:
        return "refuse";
    }
}

std::string promptEvent(uint64_t client, std::string_view account, std::string_view address,
                        std::string_view login, uint32_t timeoutSeconds, Answer onTimeout) {
    json e = event("prompt", client);
    e["account"] = account;
    e["address"] = address;
    e["login"] = login;
    e["timeout_s"] = timeoutSeconds;
    e["on_timeout"] = answerName(onTimeout);
    return line(e);
}

std::string promptClosedEvent(uint64_t client, Answer answer, std::string_view by) {
    json e = event("prompt-closed", client);
    e["answer"] = answerName(answer);
    e["by"] = by;
    return line(e);
}

std::string statsEvent(uint64_t client, const ClientStats& s) {
    json e = event("stats", client);
    e["codec"] = s.codec;
    e["width"] = s.width;
    e["height"] = s.height;
    // Whole tenths: enough for a plot, short on the wire.
    e["fps"] = static_cast<double>(static_cast<int64_t>(s.fps * 10 + 0.5)) / 10;
    e["kbps"] = static_cast<int64_t>(s.kbps + 0.5);
    e["rtt_ms"] = s.roundTripMs ? json(*s.roundTripMs) : json(nullptr);
    e["waiting"] = s.framesWaiting;
    return line(e);
}

std::string okReply(std::string_view request, uint64_t client) {
    return line(json{{"v", kVersion}, {"type", "ok"}, {"request", request}, {"id", client}});
}

std::string errorReply(std::string_view request, std::string_view message) {
    return line(
        json{{"v", kVersion}, {"type", "error"}, {"request", request}, {"message", message}});
}

} // namespace mac_control
