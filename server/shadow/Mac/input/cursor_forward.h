// Cursor forwarding: with +server-side-cursor the clients draw the host's
// cursor themselves from pointer images the server sends when it changes.
#pragma once
#include <cstdint>

#include "mac_shadow.h"

// One turn of the subsystem thread, called while at least one client is
// active and the server runs with +server-side-cursor. pointerSizeClass is
// 96 when every active client takes 96-pixel pointers, else 32. Clients new
// since the previous call are recognised from record->knownClients.
void mac_shadow_cursor_update(macShadowSubsystem* record, uint64_t now, uint32_t pointerSizeClass);

// Whether this turn sends the cursor.
bool mac_shadow_cursor_due(const macShadowSubsystem* record, bool newClient, int32_t seed,
                           double scale, int32_t sizeClass, uint64_t now);

// The colour depth the packaged shadow library announces for pointer-alpha
// messages: it sends them as 24-bit pointers, and a client rejects (and
// drops the connection over) a pointer whose XOR mask has another size.
inline constexpr uint32_t kShadowLibraryPointerBpp = 24;

// The pointer-with-alpha message for a premultiplied B, G, R, A picture
// (rows top-down): bottom-up masks, colours un-premultiplied, AND bits for
// pixels below half opacity. xorBpp 32 keeps the alpha byte; xorBpp 24
// drops it, and pixels with their AND bit set get no colour (transparent
// rather than inverting the screen). Null when memory runs out, the size
// is not positive or the depth is neither. Freed by mac_shadow_message_free.
SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE* mac_shadow_cursor_message(const uint8_t* bgra, int32_t width,
                                                               int32_t height, int32_t hotX,
                                                               int32_t hotY, uint32_t xorBpp);

// Replaces the broadcast to the clients (tests); null restores it. The
// replacement owns the message it is given.
using MacCursorBroadcastFn = void (*)(rdpShadowServer* server,
                                      SHADOW_MSG_OUT_POINTER_ALPHA_UPDATE* message);
void mac_shadow_cursor_set_broadcast_for_tests(MacCursorBroadcastFn fn);
// Forgets which clients have been seen (tests).
void mac_shadow_cursor_forget_clients();
