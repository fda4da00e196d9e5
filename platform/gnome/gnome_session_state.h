// The steps of opening and closing a GNOME remote-desktop session as a pure
// state machine on an injected clock: which call comes next, when a step
// took too long, and what the owner has to report. The D-Bus side makes the
// calls and feeds their outcomes back in; nothing here blocks or reads time.
#pragma once
#include <chrono>
#include <optional>
#include <string>

namespace corvane::platform::gnome {

// The calls, in the order mutter wants them.
enum class GnomeSessionCall {
    CreateRemoteDesktop, // RemoteDesktop.CreateSession, then its SessionId
    CreateScreenCast,    // ScreenCast.CreateSession linked to that id
    Start,               // RemoteDesktop.Session.Start (starts both)
    RecordMonitor,       // ScreenCast.Session.RecordMonitor, cursor as metadata
    Stop,                // RemoteDesktop.Session.Stop
};

enum class GnomeSessionPhase { Idle, Opening, AwaitingStream, Running, Closing, Ended };

// What the owner must do after an event; several parts may be set at once.
struct GnomeSessionEffect {
    std::optional<GnomeSessionCall> call;
    bool opened = false;               // report open() as done
    std::optional<std::string> failed; // report open() as failed
    std::optional<std::string> ended;  // report an end from outside
    bool finished = false;             // the connection can go
};

struct GnomeSessionLimits {
    std::chrono::milliseconds step{5000};   // one call's answer
    std::chrono::milliseconds stream{5000}; // the stream's PipeWire node after recording
    std::chrono::milliseconds stop{2000};   // Stop's answer
};

class GnomeSessionState {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit GnomeSessionState(GnomeSessionLimits limits = {}) : limits_(limits) {}

    GnomeSessionEffect begin(TimePoint now);
    // The answer to the call last asked for.
    GnomeSessionEffect callAnswered(bool ok, const std::string& error, TimePoint now);
    GnomeSessionEffect streamAdded(TimePoint now);
    // The compositor closed the session, went away or the bus was lost.
    GnomeSessionEffect endedFromOutside(const std::string& reason, TimePoint now);
    GnomeSessionEffect closeWanted(TimePoint now);
    // Checks the running deadline.
    GnomeSessionEffect tick(TimePoint now);

    GnomeSessionPhase phase() const { return phase_; }
    std::optional<TimePoint> deadline() const { return deadline_; }

  private:
    GnomeSessionEffect ask(GnomeSessionCall call, TimePoint now);
    GnomeSessionEffect fail(const std::string& why, TimePoint now);
    GnomeSessionEffect finish();

    GnomeSessionLimits limits_;
    GnomeSessionPhase phase_ = GnomeSessionPhase::Idle;
    std::optional<GnomeSessionCall> pending_;
    std::optional<TimePoint> deadline_;
    bool created_ = false; // mutter holds a session to stop
};

const char* gnomeSessionCallName(GnomeSessionCall call);

} // namespace corvane::platform::gnome
