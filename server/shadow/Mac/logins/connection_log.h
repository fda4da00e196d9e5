// The connection log: one JSON object per line in connections.jsonl (the
// state folder, or MAC_SHADOW_CONNECTION_LOG; an empty value turns it off),
// for the person at the desktop to look back at who connected. Every line
// has "time" (UTC, ISO 8601 with milliseconds) and "event"; texts from
// clients are kept as JSON strings (invalid UTF-8 becomes U+FFFD). Nothing
// secret is ever passed in: no password, hash or key.
//
// The file is rotated before it would pass 1 MiB: connections.jsonl.1 ...
// .4 keep the older lines (5 files in all). Every function may be called
// from any thread; a write that fails is dropped (logged once) and never
// holds up a login.
#pragma once
#include <cstdint>

extern "C" {

// Start: the file named by MAC_SHADOW_CONNECTION_LOG, else the state folder's
// ($XDG_STATE_HOME, else ~/.local/state)/Corvane/connections.jsonl.
void mac_connection_log_open(void);
// The file to write to (null or empty: none). For tests and tools.
void mac_connection_log_set_path(const char* path);
// Replaces the wall clock of the time stamps (ms since 1970; null restores).
void mac_connection_log_set_wall_clock_for_tests(int64_t (*nowMs)(void));

// A login attempt. kind: "password" or "nla". result: "ok", "wrong-password",
// "not-allowed", "locked", "no-password" or "service-unavailable".
// lockoutSeconds: the lock imposed by this attempt, or the one that refused
// it (0 for none).
void mac_connection_log_login(const char* account, const char* address, const char* kind,
                              const char* result, uint64_t lockoutSeconds);

// A session: begins with a good login of the client (an opaque key, the
// rdpShadowClient) and ends with its connection, logged with its duration
// and, where known (>= 0), the frames and bytes sent to it. An end without
// a begin writes nothing.
void mac_connection_log_session_begin(const void* client, const char* account, const char* address,
                                      const char* kind);
void mac_connection_log_session_end(const void* client, int64_t frames, int64_t bytes);

// Hooks for the person at the desktop's decisions (the application answers
// through the server):
// a prompt's answer: answer "allow", "view-only", "refuse"; by "host",
// "timeout" or "gone" (the client left while held).
void mac_connection_log_prompt(const char* account, const char* address, const char* answer,
                               const char* by);
// A session's mode changed: mode "view" or "control"; by "host" or "server".
void mac_connection_log_mode(const char* account, const char* address, const char* mode,
                             const char* by);
// The host ended a client's connection; reason in a few words.
void mac_connection_log_host_disconnect(const char* account, const char* address,
                                        const char* reason);

} // extern "C"
