// The clients as the control channel shows them: one session per connection
// from its login to its end, with the mode the host gave it. The server's
// threads report what happens (a client thread the login, the subsystem
// thread readiness and figures, the connection's end); the channel's thread
// applies the application's requests. One lock guards the table; under it
// the input lock and the clipboard channel's lock may be taken (a mode
// switch), never the other way round.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "control_protocol.h"
#include "mac_shadow.h"

namespace mac_control {

// Start: opens the channel at the path the environment names (logged; a
// server without it goes on). Teardown: closes it.
void startChannel(macShadowSubsystem* record);
void stopChannel();

// A client logged in and is about to be activated (its ClientConnect).
void clientConnecting(macShadowSubsystem* record, rdpShadowClient* client);
// The connection ended, however it ended.
void clientEnded(rdpShadowClient* client);
// Each loop turn on the subsystem thread: activated clients become ready;
// once a second each ready client's figures go out.
void tick(macShadowSubsystem* record, uint64_t now);

// One request line, answered (the channel's handler).
std::string handleLine(std::string_view line);

// Tests: a session for a client record of their own, and its mode.
uint64_t sessionIdOf(const rdpShadowClient* client);
bool modeOf(uint64_t id, ClientMode* mode);
// Where events go when no channel is open (tests); null: nowhere.
void setEventSinkForTests(void (*sink)(const std::string& line, bool stats));
void resetForTests();

} // namespace mac_control
