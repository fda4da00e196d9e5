// The desktop session's lifetime: opened for the first client, closed after
// the last, followed when the compositor ends it.
#include "desktop_session.h"

#include <mutex>
#include <string>
#include <utility>

#include "base/await.h"
#include "base/log.h"
#include "capture/mac_capture.h"
#include "host.h"
#include "platform/platform.h"
#include "section_lock.h"

namespace {

// Serialises opening and closing: clients connecting at once share one
// opening. Taken before displayLock, never after it.
std::mutex gSessionMutex;

#define SESSION_LOG(level, ...) MAC_LOG_FN(level, "mac_shadow_desktop_session", __VA_ARGS__)

corvane::platform::DesktopSession& session() {
    return corvane::platform::current().session();
}

bool noClients(const macShadowSubsystem* record) {
    rdpShadowServer* server = record->common.base.server;
    if (!server || !server->clients)
        return true;
    ArrayList_Lock(server->clients);
    const bool empty = ArrayList_Count(server->clients) == 0;
    ArrayList_Unlock(server->clients);
    return empty;
}

bool endedFromOutside(const macShadowSubsystem* record) {
    const int32_t ended = record->sessionEndedGeneration.load();
    return ended != 0 && ended == record->sessionGeneration.load();
}

// Runs on a thread of the backend: notes the end for the subsystem thread
// and does nothing else there.
void followEnd(macShadowSubsystem* record, int32_t generation) {
    session().setEndedHandler([record, generation](const std::string& reason) {
        SESSION_LOG(WLOG_WARN, "the desktop session was ended from outside (%s)", reason.c_str());
        record->sessionEndedGeneration.store(generation);
    });
}

// Under gSessionMutex: no stream may start once the session is marked closed
// (capture starts check it under displayLock).
void closeLocked(macShadowSubsystem* record) {
    session().setEndedHandler({});
    {
        SectionLock display(record->displayLock);
        record->sessionOpen.store(false);
        mac_capture_stop();
    }
    // What the surface holds is of the session that ended: the next client's
    // repaints wait for a picture of its own.
    record->pictureCaptured.store(false);
    session().close();
}

// Asks the backend to open the session and waits for the answer within the
// limit; on any failure, also a late answer, the session is closed again.
bool openLocked(macShadowSubsystem* record) {
    const int32_t generation = record->sessionGeneration.load() + 1;
    followEnd(record, generation);
    using Opened = std::pair<bool, std::string>;
    MacAwaited<Opened> opened;
    session().open([answer = opened.answer()](bool ok, const std::string& error) {
        answer(Opened{ok, error});
    });
    const std::optional<Opened> result = opened.wait(kSessionOpenLimitMs);
    if (result && result->first) {
        record->sessionGeneration.store(generation);
        record->sessionCaptureDue.store(true);
        record->sessionOpen.store(true);
        SESSION_LOG(WLOG_INFO, "desktop session opened");
        return true;
    }
    session().setEndedHandler({});
    session().close();
    if (result)
        SESSION_LOG(WLOG_ERROR, "the desktop session could not be opened (%s): refusing the client",
                    result->second.c_str());
    else
        SESSION_LOG(WLOG_ERROR,
                    "the desktop session did not open within %llu ms: refusing the client",
                    static_cast<unsigned long long>(kSessionOpenLimitMs));
    return false;
}

// The compositor ended the session: it is closed here too and every client's
// session ends (their threads leave on the library's quit message).
void endClients(macShadowSubsystem* record) {
    closeLocked(record);
    rdpShadowServer* server = record->common.base.server;
    if (!server || !server->clients)
        return;
    SESSION_LOG(WLOG_WARN, "ending the clients' sessions: the desktop they showed is gone (the "
                           "next client opens a new desktop session)");
    mac_shadow_host().quitClients(server, 0);
}

} // namespace

bool mac_shadow_session_need(macShadowSubsystem* record) {
    std::lock_guard lock(gSessionMutex);
    if (record->tearingDown.load())
        return false;
    if (record->sessionOpen.load()) {
        if (!endedFromOutside(record))
            return true;
        // Ended, and the subsystem thread has not caught up yet: this client
        // gets a new session and the clients still here keep theirs on it.
        closeLocked(record);
    }
    return openLocked(record);
}

void mac_shadow_session_step(macShadowSubsystem* record, const ClientScan& scan) {
    if (!record->sessionOpen.load())
        return;
    if (endedFromOutside(record) || scan.listEmpty) {
        std::lock_guard lock(gSessionMutex);
        if (!record->sessionOpen.load())
            return;
        if (endedFromOutside(record)) {
            endClients(record);
            return;
        }
        // A client that is connecting is in the list already.
        if (noClients(record)) {
            closeLocked(record);
            SESSION_LOG(WLOG_INFO, "the last client left: desktop session closed");
            return;
        }
    }
    if (record->sessionCaptureDue.exchange(false) && !mac_shadow_restart_capture(record))
        SESSION_LOG(WLOG_ERROR, "%s capture could not start - is the screen on and %s?",
                    corvane::platform::current().terms().captureName,
                    corvane::platform::current().terms().screenAllowed);
}

void mac_shadow_session_close(macShadowSubsystem* record, const char* why) {
    std::lock_guard lock(gSessionMutex);
    if (!record->sessionOpen.load())
        return;
    closeLocked(record);
    SESSION_LOG(WLOG_INFO, "%s: desktop session closed", why);
}
