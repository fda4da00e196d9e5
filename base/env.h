// The server's environment contract: how each MAC_SHADOW_* variable is read.
// The value helpers are pure (they take the raw value, null when unset) so
// the rules can be checked without touching the process environment.
#pragma once
#include <cstdint>

namespace mac_env {

// First-character tests: an empty or absent value has no first character.
bool firstIs(const char* value, char c);
// Leading decimal integer (optional sign, digits); 0 when there is none.
// Saturates instead of overflowing.
int64_t leadingInt(const char* value);
// Leading decimal number with an optional fraction; 0 when there is none.
double leadingDouble(const char* value);

// Value rules, each taking the raw value.
int32_t fpsFrom(const char* value);          // 1-60, else 30
bool adaptiveFpsFrom(const char* value);     // on unless "0..."
uint64_t idleAwakeMsFrom(const char* value); // 1-240 minutes, else 15
bool nativeFrom(const char* value);          // on only with "1..."
double scaleFrom(const char* value);         // 0.25-1.0, else 0 (unused)
bool audioFrom(const char* value);           // on unless "0..."
bool parentWatchFrom(const char* value);     // on only with "1..."
bool mirrorFrom(const char* value);          // off only for exactly "0"
bool ctrlAsCmdFrom(const char* value);       // on unless "0..."
bool cursorFrom(const char* value);          // on unless "0..."
// The layout variables (MAC_SHADOW_VIRTUAL, _SIZE_ALIGN, _MAX_PIXELS,
// _MAX_WIDTH) are bounded by the plan stages of mac_logic.h, which take the
// leading number as read here.
bool permsProbeFrom(const char* value); // any non-empty value

// Readers of the process environment.
const char* raw(const char* name);
int32_t fps();
bool adaptiveFps();
uint64_t idleAwakeMs();
bool native();
double scale();
bool audio();
bool parentWatch();
bool mirror();
bool ctrlAsCmd();
bool cursor();

} // namespace mac_env
