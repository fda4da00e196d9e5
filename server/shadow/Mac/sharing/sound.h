// Forwarding the desktop's sound to the clients that listen.
#pragma once
#include <cstdint>

#include "mac_shadow.h"

extern "C" {
// The capture bridge's sound receiver; `user` is the subsystem record.
void mac_shadow_audio_callback(void* user, const int16_t* samples, intptr_t frames,
                               uint32_t timestamp);
}

// Start's sound step: offers the one server format and installs the
// receiver, or with MAC_SHADOW_AUDIO off offers none and captures nothing.
void mac_shadow_sound_start(macShadowSubsystem* record);
// Each loop turn: a client that has just started listening is described in
// the log (its format and what it offered).
void mac_shadow_sound_describe_listeners(macShadowSubsystem* record);
// Tests: the receiver forgets its rate window and the clients it described.
void mac_shadow_reset_sound_rate(void);
