#include "control_sessions.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <freerdp/settings.h>
#include <winpr/collections.h>

#include "base/clock.h"
#include "base/env.h"
#include "base/log.h"
#include "control_channel.h"
#include "core/host.h"
#include "input/input_held.h"
#include "logic/mac_logic.h"
#include "logins/connection_log.h"
#include "platform/platform.h"
#include "server/shadow/ext/cliprdr_channel.h"
#include "server/shadow/ext/peer_guard.h"
#include "server/shadow/ext/peer_hold.h"
#include "server/shadow/ext/peer_hooks.h"

namespace mac_control {

namespace {

struct Session {
    uint64_t id = 0;
    rdpShadowClient* client = nullptr;
    std::string address, account, login;
    ClientMode mode = ClientMode::Control;
    bool ready = false;
    bool held = false;     // waiting for the host's answer
    bool admitted = false; // it has (or is on its way to) the desktop
    uint64_t promptDeadline = 0;
    bool allowOnTimeout = false;
    const char* endReason = nullptr; // set when the host ends it
    int32_t endKind = MAC_END_DROPPED;
    // The figures' last sample (subsystem thread, under the lock).
    uint64_t sampledAt = 0, bytes = 0, publications = 0, frames = 0;
};

std::mutex gLock;
std::map<const rdpShadowClient*, Session> gSessions;
uint64_t gNextId = 1;
macShadowSubsystem* gRecord = nullptr;
uint64_t gNextStats = 0;
std::unique_ptr<Channel> gChannel; // under gLock; stopped outside it
void (*gSink)(const std::string&, bool) = nullptr;

AskSettings gAsk;
// Connections that dropped lately, for the reconnect grace (oldest first).
std::vector<MacLeaving> gLeavings;
constexpr size_t kMaxLeavings = 64;
// Whether nobody was at the desktop when the first of the present clients came.
bool gNobodyWhenFirstCame = false;
size_t gTestReaders = 1;

const HoldPort kExtensionHold = {shadow_ext_client_hold, shadow_ext_client_release,
                                 shadow_ext_client_close};
const HoldPort* gHold = &kExtensionHold;

void emit(const std::string& line, bool stats) {
    if (gChannel)
        gChannel->publish(line, stats);
    else if (gSink)
        gSink(line, stats);
}

Session* findById(uint64_t id) {
    for (auto& [client, s] : gSessions)
        if (s.id == id)
            return &s;
    return nullptr;
}

const char* loginKind(macShadowSubsystem* record, rdpShadowClient* client) {
    if (shadow_ext_client_nla_attempt(client) == 2)
        return "nla";
    const rdpShadowServer* server = record->common.base.server;
    return server && server->authentication ? "password" : "none";
}

std::string codecOf(rdpShadowClient* client) {
    const rdpSettings* s = client->context.settings;
    if (!freerdp_settings_get_bool(s, FreeRDP_SupportGraphicsPipeline) || !client->rdpgfx)
        return "bitmap";
    if (freerdp_settings_get_bool(s, FreeRDP_GfxAVC444v2) ||
        freerdp_settings_get_bool(s, FreeRDP_GfxAVC444))
        return "h264-avc444";
    return freerdp_settings_get_bool(s, FreeRDP_GfxH264) ? "h264" : "gfx";
}

// Under gLock: whether the client's input and clipboard reach the desktop.
void reachDesktop(Session& s, bool reach) {
    if (gRecord)
        mac_shadow_input_set_view_only(&gRecord->common.base, s.client, reach ? FALSE : TRUE);
    shadow_ext_cliprdr_set_allowed(s.client, reach ? TRUE : FALSE);
}

// Under gLock.
void applyMode(Session& s, ClientMode mode) {
    if (s.mode == mode)
        return;
    s.mode = mode;
    const bool view = mode == ClientMode::View;
    reachDesktop(s, !view);
    MAC_INFO("control channel: client %llu (%s) is now %s", static_cast<unsigned long long>(s.id),
             s.address.c_str(), view ? "view-only" : "in control");
    emit(modeEvent(s.id, mode), false);
}

unsigned long long idOf(const Session& s) {
    return static_cast<unsigned long long>(s.id);
}

// Under gLock: the sessions in the order they came.
std::vector<Session*> inArrivalOrder() {
    std::vector<Session*> out;
    for (auto& [client, s] : gSessions)
        out.push_back(&s);
    std::sort(out.begin(), out.end(), [](Session* a, Session* b) { return a->id < b->id; });
    return out;
}

size_t readers() {
    if (gChannel)
        return gChannel->readers();
    return gSink ? gTestReaders : 0;
}

// Under gLock: the host (or the clock) has answered a held client.
void closePrompt(Session& s, Answer answer, const char* by) {
    s.held = false;
    emit(promptClosedEvent(s.id, answer, by), false);
    mac_connection_log_prompt(s.account.c_str(), s.address.c_str(), answerName(answer), by);
    const bool timedOut = std::strcmp(by, "timeout") == 0;
    if (answer == Answer::Refuse) {
        s.endReason = timedOut ? "refused: the host did not answer in time" : "refused by the host";
        s.endKind = MAC_END_REFUSED;
        MAC_INFO("client %llu (%s) as '%s': %s", idOf(s), s.address.c_str(), s.account.c_str(),
                 s.endReason);
        gHold->close(s.client);
        return;
    }
    s.admitted = true;
    s.mode = answer == Answer::ViewOnly ? ClientMode::View : ClientMode::Control;
    reachDesktop(s, s.mode == ClientMode::Control);
    MAC_INFO("client %llu (%s) as '%s': let in %s by the %s", idOf(s), s.address.c_str(),
             s.account.c_str(), s.mode == ClientMode::View ? "view-only" : "in control",
             timedOut ? "countdown's end (nobody at the desktop)" : "host");
    gHold->release(s.client);
}

// Under gLock: a client nobody lets in, without a prompt.
void refuseAtOnce(Session& s, const char* reason) {
    s.endReason = reason;
    s.endKind = MAC_END_REFUSED;
    MAC_WARN("client %llu (%s) as '%s': %s", idOf(s), s.address.c_str(), s.account.c_str(), reason);
    mac_connection_log_host_disconnect(s.account.c_str(), s.address.c_str(), reason);
    gHold->close(s.client);
}

std::string handle(const Request& request) {
    const char* type = requestType(request);
    const uint64_t id = requestClient(request);
    std::lock_guard lock(gLock);
    Session* s = findById(id);
    if (!s)
        return errorReply(type, "no such client");
    if (const auto* set = std::get_if<SetMode>(&request)) {
        if (s->held)
            return errorReply(type, "the client waits for the host's answer");
        applyMode(*s, set->mode);
    } else if (std::holds_alternative<Disconnect>(request)) {
        if (s->endReason)
            return errorReply(type, "the client is being disconnected already");
        if (s->held)
            closePrompt(*s, Answer::Refuse, "host");
        s->endReason = "disconnected by the host";
        s->endKind = MAC_END_HOST;
        MAC_INFO("control channel: disconnecting client %llu (%s)",
                 static_cast<unsigned long long>(id), s->address.c_str());
        mac_connection_log_host_disconnect(s->account.c_str(), s->address.c_str(),
                                           "disconnected by the host");
        gHold->close(s->client);
    } else {
        if (!s->held)
            return errorReply(type, "no prompt is pending for this client");
        closePrompt(*s, std::get<AnswerPrompt>(request).answer, "host");
    }
    return okReply(type, id);
}

uint32_t secondsLeft(const Session& s, uint64_t now) {
    return s.promptDeadline > now ? static_cast<uint32_t>((s.promptDeadline - now + 999) / 1000)
                                  : 0;
}

std::vector<std::string> greeting() {
    std::vector<std::string> lines;
    const uint64_t now = mac_now_ms();
    std::lock_guard lock(gLock);
    for (const Session* s : inArrivalOrder()) {
        lines.push_back(connectingEvent(s->id, s->address, s->account, s->login));
        if (s->held)
            lines.push_back(promptEvent(s->id, s->account, s->address, s->login,
                                        secondsLeft(*s, now),
                                        s->allowOnTimeout ? Answer::Allow : Answer::Refuse));
        if (s->ready)
            lines.push_back(readyEvent(s->id, s->mode));
    }
    return lines;
}

AskSettings askSettings() {
    std::lock_guard lock(gLock);
    return gAsk;
}

// Not under gLock: it may take a round trip to the display server.
bool nobodyAtDesktop(const AskSettings& ask) {
    const corvane::platform::PresenceReading r = corvane::platform::current().presence().read();
    const MacPresence p = {r.lockedKnown, r.locked, r.idleKnown, r.idleMs};
    return mac_logic_nobody_at_desktop(&p, uint64_t{ask.awayIdleSeconds} * 1000u) != 0;
}

// Under gLock: the drop this client comes back from, if any (and forgets
// the ones too old to count).
const MacLeaving* comingBack(const std::string& account, const std::string& address, uint64_t now) {
    gLeavings.erase(std::remove_if(gLeavings.begin(), gLeavings.end(),
                                   [now](const MacLeaving& l) {
                                       return now >= l.at && now - l.at > MAC_RECONNECT_GRACE_MS;
                                   }),
                    gLeavings.end());
    for (auto it = gLeavings.rbegin(); it != gLeavings.rend(); ++it)
        if (mac_logic_reconnect_grace(&*it, account.c_str(), address.c_str(), now))
            return &*it;
    return nullptr;
}

void remember(const Session& s, uint64_t now) {
    MacLeaving l = {};
    std::snprintf(l.account, sizeof l.account, "%s", s.account.c_str());
    std::snprintf(l.address, sizeof l.address, "%s", s.address.c_str());
    l.at = now;
    l.end = s.endKind;
    l.viewOnly = s.mode == ClientMode::View ? 1 : 0;
    if (gLeavings.size() >= kMaxLeavings)
        gLeavings.erase(gLeavings.begin());
    gLeavings.push_back(l);
}

// Under gLock: what becomes of a session that has just logged in.
void admit(Session& s, bool nobody, uint64_t now) {
    const MacLeaving* back = comingBack(s.account, s.address, now);
    switch (mac_logic_arrival(gAsk.mode, back != nullptr, nobody, readers() > 0)) {
    case MAC_ARRIVAL_GRACE:
        s.mode = back->viewOnly ? ClientMode::View : ClientMode::Control;
        reachDesktop(s, s.mode == ClientMode::Control);
        MAC_INFO("client %llu (%s) as '%s': back within %u s of its dropped connection: let in "
                 "again %s without asking",
                 idOf(s), s.address.c_str(), s.account.c_str(), MAC_RECONNECT_GRACE_MS / 1000,
                 s.mode == ClientMode::View ? "view-only" : "in control");
        gLeavings.erase(gLeavings.begin() + (back - gLeavings.data()));
        s.admitted = true;
        return;
    case MAC_ARRIVAL_AWAY:
        MAC_INFO("client %llu (%s) as '%s': nobody is at the desktop: let in without asking",
                 idOf(s), s.address.c_str(), s.account.c_str());
        s.admitted = true;
        return;
    case MAC_ARRIVAL_REFUSE_NO_READER:
        refuseAtOnce(s, "refused: the host is to be asked (MAC_SHADOW_ASK) but no application "
                        "is connected to the control channel");
        return;
    case MAC_ARRIVAL_PROMPT:
        break;
    default:
        s.admitted = true;
        return;
    }
    if (!gHold->hold(s.client)) {
        refuseAtOnce(s, "refused: the host is to be asked (MAC_SHADOW_ASK) but the client "
                        "cannot be held (the login-handshake hook is off)");
        return;
    }
    s.held = true;
    reachDesktop(s, false);
    s.promptDeadline = now + uint64_t{gAsk.timeoutSeconds} * 1000u;
    const bool allowOnTimeout = s.allowOnTimeout = mac_logic_timeout_allows(gAsk.mode, nobody) != 0;
    MAC_INFO("client %llu (%s) as '%s': asking the host (%u s, then %s)", idOf(s),
             s.address.c_str(), s.account.c_str(), gAsk.timeoutSeconds,
             allowOnTimeout ? "allow" : "refuse");
    emit(promptEvent(s.id, s.account, s.address, s.login, gAsk.timeoutSeconds,
                     allowOnTimeout ? Answer::Allow : Answer::Refuse),
         false);
}

// Prompts whose countdown has ended, in the order they came.
void answerDuePrompts(uint64_t now) {
    bool anyDue = false;
    {
        std::lock_guard lock(gLock);
        for (const auto& [client, s] : gSessions)
            anyDue = anyDue || (s.held && now >= s.promptDeadline);
    }
    if (!anyDue)
        return;
    const AskSettings ask = askSettings();
    const bool nobody = ask.mode == MAC_ASK_UNLESS_AWAY && nobodyAtDesktop(ask);
    const Answer answer =
        mac_logic_timeout_allows(ask.mode, nobody) ? Answer::Allow : Answer::Refuse;
    std::lock_guard lock(gLock);
    for (Session* s : inArrivalOrder())
        if (s->held && now >= s->promptDeadline)
            closePrompt(*s, answer, "timeout");
}

void lockIfLastLeft(bool lastLeft, bool nobodyWhenFirstCame) {
    if (!lastLeft || !mac_logic_lock_on_leave(askSettings().lockOnLeave, nobodyWhenFirstCame))
        return;
    std::string how;
    if (corvane::platform::current().presence().lockSession(how))
        MAC_INFO("the last client left: the session is locked (%s)", how.c_str());
    else
        MAC_WARN("the last client left: the session could not be locked (%s)", how.c_str());
}

ClientStats sample(Session& s, uint64_t now, uint64_t publications) {
    ClientStats st;
    rdpShadowClient* c = s.client;
    st.codec = codecOf(c);
    st.width = static_cast<uint32_t>(__atomic_load_n(&gRecord->desktopWidth, __ATOMIC_ACQUIRE));
    st.height = static_cast<uint32_t>(__atomic_load_n(&gRecord->desktopHeight, __ATOMIC_ACQUIRE));
    const uint64_t bytes = shadow_ext_client_bytes_sent(c);
    // The frames this client was sent where they are counted (the graphics
    // pipeline); otherwise every publication reaches it.
    const uint64_t frames = shadow_ext_client_frames_sent(c);
    if (s.sampledAt && now > s.sampledAt) {
        const double seconds = static_cast<double>(now - s.sampledAt) / 1000.0;
        st.kbps = static_cast<double>(bytes - s.bytes) * 8.0 / 1000.0 / seconds;
        const uint64_t sent = frames ? frames - s.frames : publications - s.publications;
        st.fps = static_cast<double>(sent) / seconds;
    }
    if (c->encoder)
        st.framesWaiting = mac_shadow_host().inflightFrames(c->encoder);
    s.sampledAt = now;
    s.bytes = bytes;
    s.publications = publications;
    s.frames = frames;
    return st;
}

} // namespace

void logAskSettings() {
    const AskSettings settings = readAskSettings();
    MAC_INFO("clients that have logged in: %s", describeAskSettings(settings).c_str());
}

void startChannel(macShadowSubsystem* record) {
    {
        std::lock_guard lock(gLock);
        gRecord = record;
        gAsk = readAskSettings();
    }
    const std::string path =
        channelPath(mac_env::raw("MAC_SHADOW_CONTROL"), mac_env::raw("XDG_RUNTIME_DIR"));
    if (path.empty()) {
        MAC_WARN("control channel: off (neither MAC_SHADOW_CONTROL nor XDG_RUNTIME_DIR is set)");
        return;
    }
    auto channel = std::make_unique<Channel>(handleLine, greeting);
    if (!channel->start(path))
        return;
    std::lock_guard lock(gLock);
    gChannel = std::move(channel);
}

void stopChannel() {
    std::unique_ptr<Channel> channel;
    {
        std::lock_guard lock(gLock);
        channel = std::move(gChannel);
    }
    // Its thread may be waiting for the lock in a request: joined outside it.
    channel.reset();
}

void clientConnecting(macShadowSubsystem* record, rdpShadowClient* client, uint64_t now) {
    if (!record || !client || !client->context.settings)
        return;
    char address[64];
    const char* host = client->context.peer ? client->context.peer->hostname : nullptr;
    std::snprintf(address, sizeof address, "%s", host && host[0] ? host : "?");
    const char* user = freerdp_settings_get_string(client->context.settings, FreeRDP_Username);
    const char* login = loginKind(record, client);
    const AskSettings ask = askSettings();
    const bool askPresence = ask.mode == MAC_ASK_UNLESS_AWAY || ask.lockOnLeave == MAC_LOCK_AUTO;
    const bool nobody = askPresence && nobodyAtDesktop(ask);
    std::lock_guard lock(gLock);
    gRecord = record;
    if (gSessions.count(client))
        return; // a second connect step of the same connection
    if (gSessions.empty())
        gNobodyWhenFirstCame = nobody;
    Session& s = gSessions[client];
    s.id = gNextId++;
    s.client = client;
    s.address = address;
    s.account = user ? user : "";
    s.login = login;
    emit(connectingEvent(s.id, s.address, s.account, s.login), false);
    admit(s, nobody, now);
}

bool mayShapeDesktop(const rdpShadowClient* client) {
    std::lock_guard lock(gLock);
    auto it = gSessions.find(client);
    if (it == gSessions.end())
        return true;
    const Session& s = it->second;
    return s.admitted && !s.held && !s.endReason && s.mode == ClientMode::Control;
}

void clientEnded(rdpShadowClient* client) {
    bool lastLeft = false, nobodyWhenFirstCame = false;
    {
        std::lock_guard lock(gLock);
        auto it = gSessions.find(client);
        if (it == gSessions.end())
            return;
        Session& s = it->second;
        if (s.held) {
            s.held = false;
            s.endKind = MAC_END_REFUSED; // it never had the desktop to come back to
            emit(promptClosedEvent(s.id, Answer::Refuse, "gone"), false);
            mac_connection_log_prompt(s.account.c_str(), s.address.c_str(), "refuse", "gone");
        }
        emit(leftEvent(s.id, s.endReason ? s.endReason : "the connection ended"), false);
        if (s.admitted && s.endKind == MAC_END_DROPPED)
            remember(s, mac_now_ms());
        const bool wasAdmitted = s.admitted;
        gSessions.erase(it);
        lastLeft = wasAdmitted && std::none_of(gSessions.begin(), gSessions.end(),
                                               [](const auto& e) { return e.second.admitted; });
        nobodyWhenFirstCame = gNobodyWhenFirstCame;
    }
    lockIfLastLeft(lastLeft, nobodyWhenFirstCame);
}

void tick(macShadowSubsystem* record, uint64_t now) {
    answerDuePrompts(now);
    rdpShadowServer* server = record->common.base.server;
    if (!server || !server->clients)
        return;
    const bool statsDue = now >= gNextStats;
    if (statsDue)
        gNextStats = now + 1000;
    const uint64_t publications = shadow_ext_publications();
    // The client list's lock keeps each client record alive while it is read.
    ArrayList_Lock(server->clients);
    {
        std::lock_guard lock(gLock);
        for (size_t i = 0; i < ArrayList_Count(server->clients); ++i) {
            auto* client = static_cast<rdpShadowClient*>(ArrayList_GetItem(server->clients, i));
            auto it = client ? gSessions.find(client) : gSessions.end();
            if (it == gSessions.end() || !client->activated || !client->context.settings)
                continue;
            Session& s = it->second;
            if (!s.ready) {
                s.ready = true;
                emit(readyEvent(s.id, s.mode), false);
                sample(s, now, publications); // the first figures start here
            } else if (statsDue) {
                emit(statsEvent(s.id, sample(s, now, publications)), true);
            }
        }
    }
    ArrayList_Unlock(server->clients);
}

std::string handleLine(std::string_view line) {
    const Parsed parsed = parseRequest(line);
    if (const auto* error = std::get_if<ParseError>(&parsed))
        return errorReply(error->type, error->message);
    return handle(std::get<Request>(parsed));
}

uint64_t sessionIdOf(const rdpShadowClient* client) {
    std::lock_guard lock(gLock);
    auto it = gSessions.find(client);
    return it == gSessions.end() ? 0 : it->second.id;
}

bool modeOf(uint64_t id, ClientMode* mode) {
    std::lock_guard lock(gLock);
    const Session* s = findById(id);
    if (s && mode)
        *mode = s->mode;
    return s != nullptr;
}

bool heldNow(uint64_t id) {
    std::lock_guard lock(gLock);
    const Session* s = findById(id);
    return s && s->held;
}

void setHoldPortForTests(const HoldPort* port) {
    std::lock_guard lock(gLock);
    gHold = port ? port : &kExtensionHold;
}

void setAskSettingsForTests(const AskSettings& settings) {
    std::lock_guard lock(gLock);
    gAsk = settings;
}

void setReadersForTests(size_t readers) {
    std::lock_guard lock(gLock);
    gTestReaders = readers;
}

void setEventSinkForTests(void (*sink)(const std::string&, bool)) {
    std::lock_guard lock(gLock);
    gSink = sink;
}

void resetForTests() {
    std::lock_guard lock(gLock);
    gSessions.clear();
    gNextId = 1;
    gNextStats = 0;
    gLeavings.clear();
    gNobodyWhenFirstCame = false;
    gTestReaders = 1;
    gAsk = AskSettings{};
    gHold = &kExtensionHold;
}

} // namespace mac_control
