// The control channel's wire format, server side: one JSON object per line,
// each with "v" (the protocol version) and "type". The application sends
// requests (set-mode, disconnect, answer); the server sends events
// (client-connecting, prompt, prompt-closed, client-ready, mode, client-left,
// stats) and one reply
// per request ("ok" or "error"). Parsing is pure: a line in, a request or an
// error out, nothing else touched.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace mac_control {

inline constexpr int kVersion = 1;
// Longer lines are refused whole, whatever follows in them.
inline constexpr size_t kMaxLine = 64 * 1024;

enum class ClientMode { Control, View };
// What the person at the desktop answers to a client that asks to come in.
enum class Answer { Allow, ViewOnly, Refuse };

struct SetMode {
    uint64_t client;
    ClientMode mode;
};
struct Disconnect {
    uint64_t client;
};
struct AnswerPrompt {
    uint64_t client;
    Answer answer;
};
using Request = std::variant<SetMode, Disconnect, AnswerPrompt>;

struct ParseError {
    std::string message;
    std::string type; // the request's type when it could be read, else empty
};
using Parsed = std::variant<Request, ParseError>;

Parsed parseRequest(std::string_view line);
const char* requestType(const Request& request);
uint64_t requestClient(const Request& request);

const char* modeName(ClientMode mode);

// Events, each a complete line with its newline.
std::string connectingEvent(uint64_t client, std::string_view address, std::string_view account,
                            std::string_view login);
std::string readyEvent(uint64_t client, ClientMode mode);
std::string modeEvent(uint64_t client, ClientMode mode);
std::string leftEvent(uint64_t client, std::string_view reason);
const char* answerName(Answer answer);
// The host is asked about a held client; `onTimeout` is what the server
// answers when the countdown ends.
std::string promptEvent(uint64_t client, std::string_view account, std::string_view address,
                        std::string_view login, uint32_t timeoutSeconds, Answer onTimeout);
// by: "host", "timeout" or "gone".
std::string promptClosedEvent(uint64_t client, Answer answer, std::string_view by);

struct ClientStats {
    std::string codec;
    uint32_t width = 0, height = 0;
    double fps = 0;
    double kbps = 0;
    std::optional<uint32_t> roundTripMs; // when the library measured it
    uint32_t framesWaiting = 0;
};
std::string statsEvent(uint64_t client, const ClientStats& stats);

// Replies to one request.
std::string okReply(std::string_view request, uint64_t client);
std::string errorReply(std::string_view request, std::string_view message);

} // namespace mac_control
