// The clients as the control channel shows them: one session per connection
// from its login to its end, with the mode the host gave it. With
// MAC_SHADOW_ASK a client that has logged in is held (peer_hold.h) until the
// host answers its prompt over the channel or the countdown, on the clock
// tick() is given, ends it; a client back soon after a drop is let in again. The server's
// threads report what happens (a client thread the login, the subsystem
// thread readiness and figures, the connection's end); the channel's thread
// applies the application's requests. One lock guards the table; under it
// the input lock and the clipboard channel's lock may be taken (a mode
// switch), never the other way round.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "ask_settings.h"
#include "control_protocol.h"
#include "mac_shadow.h"

namespace mac_control {

// Start: reads the ask settings and opens the channel at the path the
// environment names (logged; a server without it goes on). Teardown: closes
// it.
void startChannel(macShadowSubsystem* record);
// The start-up line of the ask settings (after the password logins' line).
void logAskSettings();
void stopChannel();

// A client logged in and is about to be activated (its ClientConnect, on the
// client's thread): let in, held for the host's answer, or refused.
void clientConnecting(macShadowSubsystem* record, rdpShadowClient* client, uint64_t now);
// Whether the client's size and display layouts may change the desktop:
// only once it is let in with control. A held client has been let in by
// nobody, a refused one never will be, and a view-only one watches the
// desktop as it is. A client the channel does not know (no login seen) may.
bool mayShapeDesktop(const rdpShadowClient* client);
// The connection ended, however it ended.
void clientEnded(rdpShadowClient* client);
// Each loop turn on the subsystem thread: prompts whose time is up are
// answered; activated clients become ready; once a second each ready
// client's figures go out.
void tick(macShadowSubsystem* record, uint64_t now);

// One request line, answered (the channel's handler).
std::string handleLine(std::string_view line);

// Tests: a session for a client record of their own, and its mode.
uint64_t sessionIdOf(const rdpShadowClient* client);
bool modeOf(uint64_t id, ClientMode* mode);
bool heldNow(uint64_t id);

// How a client is held, let go and closed: the extension layer's, unless a
// test puts its own (null restores the extension layer's).
struct HoldPort {
    BOOL (*hold)(rdpShadowClient* client);
    BOOL (*release)(rdpShadowClient* client);
    BOOL (*close)(rdpShadowClient* client);
};
void setHoldPortForTests(const HoldPort* port);
void setAskSettingsForTests(const AskSettings& settings);
// Readers counted when no channel is open (tests; 1 unless set).
void setReadersForTests(size_t readers);
// Where events go when no channel is open (tests); null: nowhere.
void setEventSinkForTests(void (*sink)(const std::string& line, bool stats));
void resetForTests();

} // namespace mac_control
