// The connection's handshake loop: the shadow library's client loop up to
// activation (wait on the peer's and the message queue's events, then
// CheckFileDescriptor). The channel manager is left alone: the client may
// only see channel traffic once it is activated (dynamic channel
// capabilities sent during licensing make FreeRDP's client give up), and
// what ClientConnect queued goes out on the library loop's first turn, right
// after activation.
#include "peer_handshake.h"

#include <algorithm>

#include <freerdp/settings.h>
#include <winpr/collections.h>
#include <winpr/synch.h>

#include "peer_guard.h"
#include "peer_hold.h"
#include "peer_state.h"

namespace shadow_ext {

namespace {

// How long one wait may last: the deadline and a close by the guard are
// checked at least this often.
constexpr uint64_t kTurnMs = 1000;

// Messages for a client that is not activated are dropped, as the library
// drops them; true when the server asked the connection to quit.
bool drainQueue(wMessageQueue* queue) {
    if (!queue || WaitForSingleObject(MessageQueue_Event(queue), 0) != WAIT_OBJECT_0)
        return false;
    wMessage message{};
    while (MessageQueue_Peek(queue, &message, FALSE)) {
        // A queue takes nothing after its quit message: it stays where it is
        // for the library's loop.
        if (message.id == WMQ_QUIT)
            return true;
        if (!MessageQueue_Peek(queue, &message, TRUE))
            break;
        if (message.Free)
            message.Free(&message);
    }
    return false;
}

} // namespace

bool setLibraryInputFeatures(rdpSettings* settings) {
    return settings && freerdp_settings_set_bool(settings, FreeRDP_UnicodeInput, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_HasHorizontalWheel, TRUE) &&
           freerdp_settings_set_bool(settings, FreeRDP_HasExtendedMouseEvent, TRUE);
}

HandshakeEnd driveHandshake(freerdp_peer* peer, rdpShadowClient* client, uint64_t deadline) {
    if (!peer || !client || !peer->GetEventHandles || !peer->CheckFileDescriptor)
        return HandshakeEnd::Failed;
    const std::shared_ptr<PeerWatch> watch = peerWatch(peer);
    wMessageQueue* queue = client->MsgQueue;
    for (;;) {
        if (watch && watch->closed.load())
            return HandshakeEnd::Failed;
        if (watch)
            ResetEvent(watch->wake);
        if (!activateIfReleased(peer))
            return HandshakeEnd::Failed;
        if (client->activated)
            return HandshakeEnd::Activated;
        // A held client waits for the host's answer, not the login deadline;
        // once released it has the whole login grace again to finish.
        const bool held = watch && watch->held.load();
        const uint64_t released = watch ? watch->releasedAt.load() : 0;
        const uint64_t until = released ? std::max(deadline, released + kLoginGraceMs) : deadline;
        const uint64_t now = shadow_ext_now_ms();
        if (!held && now >= until)
            return HandshakeEnd::TimedOut;

        HANDLE events[MAXIMUM_WAIT_OBJECTS] = {};
        DWORD count = peer->GetEventHandles(peer, events, MAXIMUM_WAIT_OBJECTS - 2);
        if (count == 0)
            return HandshakeEnd::Failed;
        if (queue)
            events[count++] = MessageQueue_Event(queue);
        if (watch && watch->wake)
            events[count++] = watch->wake;
        const DWORD wait =
            static_cast<DWORD>(held || now >= until ? kTurnMs : std::min(until - now, kTurnMs));
        const DWORD status = WaitForMultipleObjects(count, events, FALSE, wait);
        if (status == WAIT_FAILED)
            return HandshakeEnd::Failed;
        if (status == WAIT_TIMEOUT || (watch && watch->wake && status == WAIT_OBJECT_0 + count - 1))
            continue;
        // TLS, NLA, the password check and ClientConnect run inside this call.
        if (!peer->CheckFileDescriptor(peer))
            return HandshakeEnd::Failed;
        if (drainQueue(queue))
            return HandshakeEnd::Stopping;
    }
}

} // namespace shadow_ext
