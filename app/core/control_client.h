// The application's end of the server's control channel: a local socket to
// the server (its path from the launch plan), one JSON object per line. The
// client connects once the server is started, tries again while the server
// is still making its socket, and connects anew after the server restarts.
// What the server tells goes into a model of the sessions the windows show:
// each client with its login, its mode and its latest figures, and the
// prompts the host is to answer.
//
// The server's side of the wire is server/shadow/Mac/control/
// control_protocol.h; the two keep the same version and type names.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QLocalSocket>
#include <QTimer>

namespace corvane::app {

struct SessionStats {
    std::string codec;
    uint32_t width = 0, height = 0;
    double fps = 0;
    double kbps = 0;
    std::optional<uint32_t> roundTripMs;
    uint32_t framesWaiting = 0;
};

// One stats event's figures, at the second it came.
struct StatsSample {
    int64_t at = 0;
    double fps = 0, kbps = 0;
};
// How far back a session's figures are kept (the Sessions window's plot).
inline constexpr int64_t kStatsHistorySeconds = 120;

// Who a client is, as its login event names it.
struct ClientIdentity {
    std::string account, address, login;

    bool operator==(const ClientIdentity&) const = default;
};

struct ControlSession {
    uint64_t id = 0;
    ClientIdentity who;
    bool viewOnly = false;
    bool ready = false;
    int64_t connectedAt = 0;           // seconds since 1970 when the login was told
    std::optional<SessionStats> stats; // the latest, once one came
    std::deque<StatsSample> history;   // oldest first
};

// The host's answer to a prompt.
enum class PromptAnswer { allow, viewOnly, refuse };
// "allow", "view-only", "refuse": the wire's words.
std::string promptAnswerName(PromptAnswer answer);
std::optional<PromptAnswer> promptAnswerFromName(std::string_view name);

// A held client the host is asked about (the server's `prompt` event).
struct ControlPrompt {
    uint64_t id = 0;
    ClientIdentity who;
    int timeoutSeconds = 0;                        // the server's countdown as told; 0: none told
    PromptAnswer onTimeout = PromptAnswer::refuse; // what the server does when it ends

    bool operator==(const ControlPrompt&) const = default;
};

// The sessions as the server's events describe them. Pure: a line in (and
// the time it came, in seconds since 1970), the model changed (true) or the
// line ignored (false: not an event of this version, or for a client it
// never announced).
class ControlSessions {
  public:
    bool apply(std::string_view line, int64_t now = 0);
    void clear() {
        sessions_.clear();
        prompts_.clear();
    }
    bool empty() const { return sessions_.empty() && prompts_.empty(); }
    const std::vector<ControlSession>& sessions() const { return sessions_; }
    const ControlSession* find(uint64_t id) const;
    // The prompts still open, in the order they came. A prompt stands on its
    // own (it names its client) and ends with its `prompt-closed`, or with
    // its client's `client-left`.
    const std::vector<ControlPrompt>& prompts() const { return prompts_; }

  private:
    std::vector<ControlSession> sessions_;
    std::vector<ControlPrompt> prompts_;
};

// Request lines for the server.
std::string setModeRequest(uint64_t id, bool viewOnly);
std::string disconnectRequest(uint64_t id);
std::string answerRequest(uint64_t id, PromptAnswer answer);

class ControlClient {
  public:
    ControlClient();
    ControlClient(const ControlClient&) = delete;
    ControlClient& operator=(const ControlClient&) = delete;

    // Connects to the server's channel at `path` (again: a restarted server),
    // trying until it answers or stop() is called.
    void connectTo(const std::string& path);
    void stop();
    bool connected() const;

    // False when there is no connection to send it on.
    bool setMode(uint64_t id, bool viewOnly);
    bool disconnectClient(uint64_t id);
    bool answer(uint64_t id, PromptAnswer answer);

    const ControlSessions& model() const { return model_; }

    // Called on the main loop when the sessions changed, and with the
    // server's reply to each request (ok, or an error with its message).
    std::function<void()> onSessionsChanged;
    std::function<void(bool ok, const std::string& request, const std::string& message)> onReply;

  private:
    void tryConnect();
    void changed();
    void readLines();
    bool send(const std::string& line);

    QLocalSocket socket_;
    QTimer retry_;
    std::string path_;
    std::string pending_;
    ControlSessions model_;
};

} // namespace corvane::app
