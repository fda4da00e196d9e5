#include "gnome_session_state.h"

namespace corvane::platform::gnome {

const char* gnomeSessionCallName(GnomeSessionCall call) {
    switch (call) {
    case GnomeSessionCall::CreateRemoteDesktop:
        return "RemoteDesktop.CreateSession";
    case GnomeSessionCall::CreateScreenCast:
        return "ScreenCast.CreateSession";
    case GnomeSessionCall::Start:
        return "RemoteDesktop.Session.Start";
    case GnomeSessionCall::RecordMonitor:
        return "ScreenCast.Session.RecordMonitor";
    case GnomeSessionCall::Stop:
        return "RemoteDesktop.Session.Stop";
    }
    return "?";
}

namespace {

// The monitor is recorded before Start, so that Start starts its stream too
// (a stream recorded later would need a Start of its own).
std::optional<GnomeSessionCall> nextOpeningCall(GnomeSessionCall answered) {
    switch (answered) {
    case GnomeSessionCall::CreateRemoteDesktop:
        return GnomeSessionCall::CreateScreenCast;
    case GnomeSessionCall::CreateScreenCast:
        return GnomeSessionCall::RecordMonitor;
    case GnomeSessionCall::RecordMonitor:
        return GnomeSessionCall::Start;
    default:
        return std::nullopt;
    }
}

} // namespace

GnomeSessionEffect GnomeSessionState::ask(GnomeSessionCall call, TimePoint now) {
    pending_ = call;
    deadline_ = now + (call == GnomeSessionCall::Stop ? limits_.stop : limits_.step);
    GnomeSessionEffect effect;
    effect.call = call;
    return effect;
}

GnomeSessionEffect GnomeSessionState::finish() {
    phase_ = GnomeSessionPhase::Ended;
    pending_.reset();
    deadline_.reset();
    GnomeSessionEffect effect;
    effect.finished = true;
    return effect;
}

// A failed open still stops what mutter made, so that nothing of ours stays
// behind on the desktop even if the connection lingers.
GnomeSessionEffect GnomeSessionState::fail(const std::string& why, TimePoint now) {
    GnomeSessionEffect effect;
    if (created_) {
        phase_ = GnomeSessionPhase::Closing;
        effect = ask(GnomeSessionCall::Stop, now);
    } else {
        effect = finish();
    }
    effect.failed = why;
    return effect;
}

GnomeSessionEffect GnomeSessionState::begin(TimePoint now) {
    if (phase_ != GnomeSessionPhase::Idle)
        return {};
    phase_ = GnomeSessionPhase::Opening;
    return ask(GnomeSessionCall::CreateRemoteDesktop, now);
}

GnomeSessionEffect GnomeSessionState::callAnswered(bool ok, const std::string& error,
                                                   TimePoint now) {
    if (!pending_)
        return {};
    const GnomeSessionCall answered = *pending_;
    pending_.reset();
    if (phase_ == GnomeSessionPhase::Closing)
        return finish();
    if (phase_ != GnomeSessionPhase::Opening)
        return {};
    if (!ok)
        return fail(std::string(gnomeSessionCallName(answered)) + " failed: " + error, now);
    if (answered == GnomeSessionCall::CreateRemoteDesktop)
        created_ = true;
    if (auto next = nextOpeningCall(answered))
        return ask(*next, now);
    phase_ = GnomeSessionPhase::AwaitingStream;
    deadline_ = now + limits_.stream;
    return {};
}

GnomeSessionEffect GnomeSessionState::streamAdded(TimePoint now) {
    if (phase_ != GnomeSessionPhase::AwaitingStream)
        return {};
    phase_ = GnomeSessionPhase::Running;
    deadline_.reset();
    GnomeSessionEffect effect;
    effect.opened = true;
    return effect;
}

GnomeSessionEffect GnomeSessionState::endedFromOutside(const std::string& reason, TimePoint now) {
    switch (phase_) {
    case GnomeSessionPhase::Opening:
    case GnomeSessionPhase::AwaitingStream: {
        GnomeSessionEffect effect = finish();
        effect.failed = reason;
        return effect;
    }
    case GnomeSessionPhase::Running: {
        GnomeSessionEffect effect = finish();
        effect.ended = reason;
        return effect;
    }
    case GnomeSessionPhase::Closing:
        return finish();
    default:
        return {};
    }
}

GnomeSessionEffect GnomeSessionState::closeWanted(TimePoint now) {
    switch (phase_) {
    case GnomeSessionPhase::Idle:
        return finish();
    case GnomeSessionPhase::Opening:
    case GnomeSessionPhase::AwaitingStream:
        return fail("the session was closed before it was ready", now);
    case GnomeSessionPhase::Running:
        phase_ = GnomeSessionPhase::Closing;
        return ask(GnomeSessionCall::Stop, now);
    default:
        return {};
    }
}

GnomeSessionEffect GnomeSessionState::tick(TimePoint now) {
    if (!deadline_ || now < *deadline_)
        return {};
    switch (phase_) {
    case GnomeSessionPhase::Opening:
        return fail(std::string("the compositor did not answer ") +
                        gnomeSessionCallName(pending_.value_or(GnomeSessionCall::Start)) +
                        " in time",
                    now);
    case GnomeSessionPhase::AwaitingStream:
        return fail("the compositor recorded the monitor but gave no PipeWire stream in time", now);
    case GnomeSessionPhase::Closing:
        return finish();
    default:
        deadline_.reset();
        return {};
    }
}

} // namespace corvane::platform::gnome
