// What each client holds pressed on the desktop. Keys and buttons a client
// pressed are let go when it ends, however it ends (a clean disconnect, a
// dropped connection, a killed client), and at teardown; once nobody holds
// anything the modifier state, the button flags and click counting start
// afresh, so the next session does not inherit a stuck Command key.
#pragma once
#include <cstdint>
#include <mutex>

#include "mac_shadow.h"

namespace mac_input_held {

// Input callbacks run on several client threads; the shared input state of
// the record (modifier state, button flags, click counting) and the posting
// that follows from it go under this lock.
std::mutex& lock();
// Call with lock() held, after deciding what is posted.
void noteKey(const rdpShadowClient* client, uint32_t mac, bool down);
void noteButton(const rdpShadowClient* client, int32_t button, bool down);
// A view-only client's input reaches nothing; call with lock() held, so
// that no key of its goes down after the switch has let its keys go.
bool viewOnly(const rdpShadowClient* client);
// Where the pointer was last posted: buttons are let go there.
void notePoint(double x, double y);
// Clients holding anything right now (tests).
size_t holders();
// Forgets every client's holdings without posting anything (tests).
void forget();

} // namespace mac_input_held

extern "C" {
// The end of a client: posts the releases of what it holds.
void mac_shadow_input_client_ended(rdpShadowSubsystem* subsystem, rdpShadowClient* client);
// The client's own mode: switching to view-only lets go of what it holds
// (logged with `why`); switching back lets its input through again.
void mac_shadow_input_set_view_only(rdpShadowSubsystem* subsystem, rdpShadowClient* client,
                                    BOOL viewOnly);
// Teardown: releases whatever any client holds.
void mac_shadow_input_release_all(macShadowSubsystem* record);
}
