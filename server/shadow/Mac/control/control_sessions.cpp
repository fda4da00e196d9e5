#include "control_sessions.h"

#include <map>
#include <memory>
#include <mutex>

#include <freerdp/settings.h>
#include <winpr/collections.h>

#include "base/env.h"
#include "base/log.h"
#include "control_channel.h"
#include "core/host.h"
#include "input/input_held.h"
#include "server/shadow/ext/cliprdr_channel.h"
#include "server/shadow/ext/peer_guard.h"
#include "server/shadow/ext/peer_hooks.h"

namespace mac_control {

namespace {

struct Session {
    uint64_t id = 0;
    rdpShadowClient* client = nullptr;
    std::string address, account, login;
    ClientMode mode = ClientMode::Control;
    bool ready = false;
    const char* endReason = nullptr; // set when the host ends it
    // The figures' last sample (subsystem thread, under the lock).
    uint64_t sampledAt = 0, bytes = 0, publications = 0;
};

std::mutex gLock;
std::map<const rdpShadowClient*, Session> gSessions;
uint64_t gNextId = 1;
macShadowSubsystem* gRecord = nullptr;
uint64_t gNextStats = 0;
std::unique_ptr<Channel> gChannel; // under gLock; stopped outside it
void (*gSink)(const std::string&, bool) = nullptr;

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

// Under gLock.
void applyMode(Session& s, ClientMode mode) {
    if (s.mode == mode)
        return;
    s.mode = mode;
    const bool view = mode == ClientMode::View;
    if (gRecord)
        mac_shadow_input_set_view_only(&gRecord->common.base, s.client, view ? TRUE : FALSE);
    shadow_ext_cliprdr_set_allowed(s.client, view ? FALSE : TRUE);
    MAC_INFO("control channel: client %llu (%s) is now %s", static_cast<unsigned long long>(s.id),
             s.address.c_str(), view ? "view-only" : "in control");
    emit(modeEvent(s.id, mode), false);
}

std::string handle(const Request& request) {
    const char* type = requestType(request);
    const uint64_t id = requestClient(request);
    std::lock_guard lock(gLock);
    Session* s = findById(id);
    if (!s)
        return errorReply(type, "no such client");
    if (const auto* set = std::get_if<SetMode>(&request)) {
        applyMode(*s, set->mode);
    } else if (std::holds_alternative<Disconnect>(request)) {
        if (s->endReason)
            return errorReply(type, "the client is being disconnected already");
        s->endReason = "disconnected by the host";
        MAC_INFO("control channel: disconnecting client %llu (%s)",
                 static_cast<unsigned long long>(id), s->address.c_str());
        shadow_ext_client_close(s->client);
    } else {
        // Nothing asks before activation yet: no answer is awaited.
        return errorReply(type, "no prompt is pending for this client");
    }
    return okReply(type, id);
}

std::vector<std::string> greeting() {
    std::vector<std::string> lines;
    std::lock_guard lock(gLock);
    for (const auto& [client, s] : gSessions) {
        lines.push_back(connectingEvent(s.id, s.address, s.account, s.login));
        if (s.ready)
            lines.push_back(readyEvent(s.id, s.mode));
    }
    return lines;
}

ClientStats sample(Session& s, uint64_t now, uint64_t publications) {
    ClientStats st;
    rdpShadowClient* c = s.client;
    st.codec = codecOf(c);
    st.width = static_cast<uint32_t>(__atomic_load_n(&gRecord->desktopWidth, __ATOMIC_ACQUIRE));
    st.height = static_cast<uint32_t>(__atomic_load_n(&gRecord->desktopHeight, __ATOMIC_ACQUIRE));
    const uint64_t bytes = shadow_ext_client_bytes_sent(c);
    if (s.sampledAt && now > s.sampledAt) {
        const double seconds = static_cast<double>(now - s.sampledAt) / 1000.0;
        st.kbps = static_cast<double>(bytes - s.bytes) * 8.0 / 1000.0 / seconds;
        st.fps = static_cast<double>(publications - s.publications) / seconds;
    }
    if (c->encoder)
        st.framesWaiting = mac_shadow_host().inflightFrames(c->encoder);
    s.sampledAt = now;
    s.bytes = bytes;
    s.publications = publications;
    return st;
}

} // namespace

void startChannel(macShadowSubsystem* record) {
    {
        std::lock_guard lock(gLock);
        gRecord = record;
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

void clientConnecting(macShadowSubsystem* record, rdpShadowClient* client) {
    if (!record || !client || !client->context.settings)
        return;
    char address[64];
    const char* host = client->context.peer ? client->context.peer->hostname : nullptr;
    std::snprintf(address, sizeof address, "%s", host && host[0] ? host : "?");
    const char* user = freerdp_settings_get_string(client->context.settings, FreeRDP_Username);
    const char* login = loginKind(record, client);
    std::lock_guard lock(gLock);
    gRecord = record;
    if (gSessions.count(client))
        return; // a second connect step of the same connection
    Session& s = gSessions[client];
    s.id = gNextId++;
    s.client = client;
    s.address = address;
    s.account = user ? user : "";
    s.login = login;
    emit(connectingEvent(s.id, s.address, s.account, s.login), false);
}

void clientEnded(rdpShadowClient* client) {
    std::lock_guard lock(gLock);
    auto it = gSessions.find(client);
    if (it == gSessions.end())
        return;
    const Session& s = it->second;
    emit(leftEvent(s.id, s.endReason ? s.endReason : "the connection ended"), false);
    gSessions.erase(it);
}

void tick(macShadowSubsystem* record, uint64_t now) {
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

void setEventSinkForTests(void (*sink)(const std::string&, bool)) {
    std::lock_guard lock(gLock);
    gSink = sink;
}

void resetForTests() {
    std::lock_guard lock(gLock);
    gSessions.clear();
    gNextId = 1;
    gNextStats = 0;
}

} // namespace mac_control
