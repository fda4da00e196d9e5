/* Pure decision functions of the Mac shadow subsystem.
 *
 * No clock, no locks, no logging: callers pass the tick count (`now`, 64-bit
 * milliseconds), hold whatever lock guards the state they hand in, and write
 * the log lines themselves. Every function has C linkage, never throws and
 * accepts null pointers (answering with the documented "nothing" result).
 */
#ifndef CORVANE_MAC_LOGIC_H
#define CORVANE_MAC_LOGIC_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define MAC_LOGIC_API __attribute__((visibility("default")))
#else
#define MAC_LOGIC_API
#endif

#ifdef __cplusplus
#define MAC_LOGIC_NOEXCEPT noexcept
extern "C" {
#else
#define MAC_LOGIC_NOEXCEPT
#endif

/* ---- Desktop plan ------------------------------------------------------ */

#define MAC_PLAN_MAX_MONITORS 16
#define MAC_PLAN_MIN_SIZE 200
#define MAC_PLAN_MAX_SIZE 8192
#define MAC_PLAN_DEFAULT_BUDGET 2073600.0 /* 1920 x 1080 per monitor */
#define MAC_PLAN_MIN_BUDGET 500000.0
#define MAC_PLAN_MIN_WIDTH_LIMIT 640
#define MAC_PLAN_HIDPI_MIN_WIDTH 1600
#define MAC_PLAN_HIDPI_MIN_HEIGHT 1050

/* Results of mac_logic_build_plan_scaled. */
#define MAC_PLAN_OK 0
#define MAC_PLAN_BAD_ARGS (-1)
#define MAC_PLAN_BAD_SIZE (-2)
#define MAC_PLAN_TOO_LARGE (-3)

/* MAC_SHADOW_VIRTUAL as read by mac_logic_virtual_mode. */
#define MAC_VIRTUAL_AUTO 0
#define MAC_VIRTUAL_NEVER 1
#define MAC_VIRTUAL_ALWAYS 2

/* The wanted desktop. Entries beyond count are zero; sizes are even and lie
 * in 200-8192; x/y are relative to the top-left of the bounding box. */
typedef struct DesktopPlan {
    uint32_t count;
    int32_t x[16];
    int32_t y[16];
    uint32_t width[16];
    uint32_t height[16];
    uint32_t totalWidth;
    uint32_t totalHeight;
    uint32_t useVirtual;
    uint32_t hidpi[16];
} DesktopPlan;

/* 1 when a monitor with these scale factors (percent) wants a 2x mode. */
MAC_LOGIC_API int32_t mac_logic_hidpi_wish(uint32_t desktopScale,
                                           uint32_t deviceScale) MAC_LOGIC_NOEXCEPT;

/* Builds a plan from the first min(count, 16) monitors. desktopScales and
 * deviceScales may be null. Returns MAC_PLAN_OK or a negative MAC_PLAN_*;
 * the plan is left cleared on every failure. */
MAC_LOGIC_API int32_t mac_logic_build_plan_scaled(uint32_t count, const int32_t* lefts,
                                                  const int32_t* tops, const uint32_t* widths,
                                                  const uint32_t* heights,
                                                  const uint32_t* desktopScales,
                                                  const uint32_t* deviceScales,
                                                  DesktopPlan* plan) MAC_LOGIC_NOEXCEPT;

/* 1 when both plans describe the same request: count, totals and every
 * monitor's position, size and hidpi flag (as true/false). */
MAC_LOGIC_API int32_t mac_logic_plan_same(const DesktopPlan* a,
                                          const DesktopPlan* b) MAC_LOGIC_NOEXCEPT;

/* The sizing stages, applied in this order after the build. Each takes the
 * raw value the caller read and applies its bounds itself. */

/* Rounds sizes down to the alignment (4, 8 or 16; anything else means 2,
 * which changes nothing) unless that would go below 200. Returns 1 when a
 * size changed (totals are then recomputed), else 0. */
MAC_LOGIC_API int32_t mac_logic_plan_align(DesktopPlan* plan, int32_t alignment) MAC_LOGIC_NOEXCEPT;

/* Scales the plan down to budgetPerMonitor pixels per monitor (values below
 * 500000 or not finite mean 2073600). Returns 1 when it scaled, else 0. */
MAC_LOGIC_API int32_t mac_logic_plan_budget(DesktopPlan* plan,
                                            double budgetPerMonitor) MAC_LOGIC_NOEXCEPT;

/* Scales the plan down to maxWidth total pixels (only 640-8192 counts;
 * anything else is no limit). Returns 1 when it scaled, else 0. */
MAC_LOGIC_API int32_t mac_logic_plan_width_limit(DesktopPlan* plan,
                                                 int32_t maxWidth) MAC_LOGIC_NOEXCEPT;

/* Sets hidpi monitors smaller than 1600 x 1050 back to 1x. Returns how many
 * were set back. */
MAC_LOGIC_API int32_t mac_logic_plan_hidpi_minimum(DesktopPlan* plan) MAC_LOGIC_NOEXCEPT;

/* MAC_VIRTUAL_* for the variable's value (null when unset). */
MAC_LOGIC_API int32_t mac_logic_virtual_mode(const char* value) MAC_LOGIC_NOEXCEPT;

/* Decides useVirtual from the mode and the main display's size in points.
 * Returns the value stored (0 or 1). */
MAC_LOGIC_API int32_t mac_logic_plan_choose_virtual(DesktopPlan* plan, int32_t mode,
                                                    int32_t mainPointsWidth,
                                                    int32_t mainPointsHeight) MAC_LOGIC_NOEXCEPT;

/* The size the desktop takes on the Mac in points: half the totals when
 * every monitor is hidpi, the totals otherwise. Returns 1 when at least one
 * monitor is hidpi (the points line is due), else 0 with both outputs 0. */
MAC_LOGIC_API int32_t mac_logic_plan_points(const DesktopPlan* plan, uint32_t* pointsWidth,
                                            uint32_t* pointsHeight) MAC_LOGIC_NOEXCEPT;

/* ---- Connection limit and lockout ------------------------------------- */

#define MAC_LOGIN_TABLE_SIZE 64
#define MAC_LOGIN_ADDRESS_MAX 63
#define MAC_CONN_WINDOW_MS 60000u
#define MAC_CONN_PER_WINDOW 15
#define MAC_LOCKOUT_FORGET_MS 3600000u
#define MAC_LOCKOUT_MAX_MS 900000u
#define MAC_LOCKOUT_TABLE_SIZE 1024
#define MAC_ACCOUNT_SIZE 128
/* Wrong passwords for one account from any address: MAC_ACCOUNT_FAILURES in
 * MAC_ACCOUNT_WINDOW_MS lock the account's password logins for a time that
 * doubles from MAC_ACCOUNT_LOCK_FIRST_MS up to MAC_ACCOUNT_LOCK_MAX_MS. */
#define MAC_ACCOUNT_TABLE_SIZE 64
#define MAC_ACCOUNT_FAILURES 10
#define MAC_ACCOUNT_WINDOW_MS 600000u
#define MAC_ACCOUNT_LOCK_FIRST_MS 30000u
#define MAC_ACCOUNT_LOCK_MAX_MS 300000u
#define MAC_KNOWN_ADDRESS_COUNT 64

typedef struct MacConnEntry {
    char address[MAC_LOGIN_ADDRESS_MAX + 1]; /* empty = free */
    uint64_t windowStart;
    int32_t count;
} MacConnEntry;

typedef struct MacConnTable {
    MacConnEntry entries[MAC_LOGIN_TABLE_SIZE];
} MacConnTable;

typedef struct MacLockoutEntry {
    char address[MAC_LOGIN_ADDRESS_MAX + 1]; /* empty = free */
    int32_t failures;
    uint64_t lastFailureTick;
    uint64_t lockedUntil;
} MacLockoutEntry;

typedef struct MacLockoutTable {
    MacLockoutEntry entries[MAC_LOCKOUT_TABLE_SIZE];
} MacLockoutTable;

typedef struct MacAccountEntry {
    char account[MAC_ACCOUNT_SIZE];              /* empty = free */
    uint64_t failureTicks[MAC_ACCOUNT_FAILURES]; /* the last ones, a ring */
    int32_t nextFailure;
    int32_t locks; /* locks in a row: each one doubles the next */
    uint64_t lastFailureTick;
    uint64_t lockedUntil;
} MacAccountEntry;

/* An address an account logged in from with the right password. */
typedef struct MacKnownAddress {
    char account[MAC_ACCOUNT_SIZE]; /* empty = free */
    char address[MAC_LOGIN_ADDRESS_MAX + 1];
    uint64_t lastLogin;
} MacKnownAddress;

typedef struct MacAccountTable {
    MacAccountEntry entries[MAC_ACCOUNT_TABLE_SIZE];
    MacKnownAddress known[MAC_KNOWN_ADDRESS_COUNT];
} MacAccountTable;

/* Counts one connection from address. 1 = allow, 0 = refuse (more than 15
 * in the minute that began with its first connection). Untrackable
 * addresses (missing, empty, longer than 63) are always allowed. */
MAC_LOGIC_API int32_t mac_logic_conn_allow(MacConnTable* table, const char* address,
                                           uint64_t now) MAC_LOGIC_NOEXCEPT;

/* Records one wrong password; returns the lockout it imposes in ms (0 for
 * none). Untrackable addresses are never locked out. */
MAC_LOGIC_API uint64_t mac_logic_auth_failed(MacLockoutTable* table, const char* address,
                                             uint64_t now) MAC_LOGIC_NOEXCEPT;

/* Milliseconds the address is still locked out for at now, 0 when it is not.
 * An address with no entry while no entry can be given to it (every one is
 * locked, or was locked and is not forgotten yet) counts as locked until the
 * first entry frees: a lock is never given away to make room. */
MAC_LOGIC_API uint64_t mac_logic_lockout_remaining(const MacLockoutTable* table,
                                                   const char* address,
                                                   uint64_t now) MAC_LOGIC_NOEXCEPT;

/* Wrong passwords recorded for the address, 0 when it has no entry. */
MAC_LOGIC_API int32_t mac_logic_lockout_failures(const MacLockoutTable* table,
                                                 const char* address) MAC_LOGIC_NOEXCEPT;

/* 1 when an address without an entry could not get one at now. */
MAC_LOGIC_API int32_t mac_logic_lockout_full(const MacLockoutTable* table,
                                             uint64_t now) MAC_LOGIC_NOEXCEPT;

/* Frees the address's entry after a good login. Returns 1 when there was one. */
MAC_LOGIC_API int32_t mac_logic_lockout_clear(MacLockoutTable* table,
                                              const char* address) MAC_LOGIC_NOEXCEPT;

/* Records one wrong password for an account (any address); returns the lock
 * it imposes on the account in ms (0 for none). Empty or missing accounts
 * are not tracked; when every entry is locked, neither is a new account. */
MAC_LOGIC_API uint64_t mac_logic_account_failed(MacAccountTable* table, const char* account,
                                                uint64_t now) MAC_LOGIC_NOEXCEPT;

/* Milliseconds the account's password logins stay refused from address, 0
 * when they are not, or when the account logged in from that address before. */
MAC_LOGIC_API uint64_t mac_logic_account_remaining(const MacAccountTable* table,
                                                   const char* account, const char* address,
                                                   uint64_t now) MAC_LOGIC_NOEXCEPT;

/* A good login: the address becomes known for the account (the least recent
 * known address makes room). The account's count of wrong passwords stays. */
MAC_LOGIC_API void mac_logic_account_succeeded(MacAccountTable* table, const char* account,
                                               const char* address,
                                               uint64_t now) MAC_LOGIC_NOEXCEPT;

/* Whole seconds, rounded up, for "locked out for another %llu s". */
MAC_LOGIC_API uint64_t mac_logic_seconds_up(uint64_t ms) MAC_LOGIC_NOEXCEPT;

/* ---- Account names and the NLA login value ---------------------------- */

/* Derives the account from a user name as sent ("DOMAIN\\name",
 * "name@host", blanks around). 1 = ok, 0 = no usable name (out is then
 * empty when it has room for anything). */
MAC_LOGIC_API int32_t mac_logic_auth_account(const char* user, char* out,
                                             size_t outSize) MAC_LOGIC_NOEXCEPT;

/* 1 when account equals the configured NLA user, ignoring the case of A-Z
 * only; 0 when they differ or either is missing or empty. */
MAC_LOGIC_API int32_t mac_logic_nla_user_matches(const char* account,
                                                 const char* nlaUser) MAC_LOGIC_NOEXCEPT;

#define MAC_NLA_USER_MAX 127
#define MAC_NLA_HASH_SIZE 16

/* Parses "user:32 hex digits" (the last colon separates). 1 = parsed, 0 =
 * malformed: userOut is then empty (when userOutSize >= 1) and hashOut is
 * untouched. */
MAC_LOGIC_API int32_t mac_logic_nla_parse(const char* value, char* userOut, size_t userOutSize,
                                          uint8_t* hashOut) MAC_LOGIC_NOEXCEPT;

/* ---- Allowed accounts ------------------------------------------------- */

/* The rule of MAC_SHADOW_ALLOWED_USERS: account names and "@group" entries,
 * comma-separated, blanks around an entry ignored. A rule without entries is
 * the default rule: the account the server runs as (the owner) and the
 * members of the administrators group. */

/* Which rule admitted an account (mac_logic_account_allowed). */
#define MAC_ALLOW_REFUSED 0
#define MAC_ALLOW_OWNER 1 /* default rule: the server's own account */
#define MAC_ALLOW_ADMIN 2 /* default rule: a member of the administrators group */
#define MAC_ALLOW_NAMED 3 /* the rule names the account */
#define MAC_ALLOW_GROUP 4 /* the account is a member of a group the rule names */

/* The entry at index (0-based) of the rule, blanks trimmed and with its "@"
 * kept; empty entries are skipped. 1 = found, 0 = no such entry or it does
 * not fit (out is then empty when it has room for anything). */
MAC_LOGIC_API int32_t mac_logic_allowed_entry(const char* rule, uint32_t index, char* out,
                                              size_t outSize) MAC_LOGIC_NOEXCEPT;

/* Whether account may log in with a password. groups lists the groups the
 * account is a member of, one per line ("\n"-separated; no group or account
 * name holds a line break); a group that does not exist has no members, so
 * naming one admits nobody. Names compare exactly. Returns a MAC_ALLOW_*;
 * entry (may be null) receives the rule entry that admitted the account, or
 * the administrators group, else it is emptied. An empty account, owner or
 * administrators group matches nothing. */
MAC_LOGIC_API int32_t mac_logic_account_allowed(const char* rule, const char* account,
                                                const char* owner, const char* adminGroup,
                                                const char* groups, char* entry,
                                                size_t entrySize) MAC_LOGIC_NOEXCEPT;

/* ---- Repaint schedule and acknowledgement watch ----------------------- */

#define MAC_REPAINT_STEPS 7
#define MAC_REPAINT_RISK_INTERVAL_MS 30000u
#define MAC_REPAINT_RISK_WINDOW_MS 180000u
#define MAC_REPAINT_FIRST_MS 4000u
#define MAC_REPAINT_LOGGED_MAX 3
#define MAC_BURST_LENGTH_MS 3200u
#define MAC_BURST_STEP_MS 800u
#define MAC_BURST_AFTER_CONNECT_MS 1500u /* also after an applied plan */
#define MAC_BURST_AFTER_RESTART_MS 500u
#define MAC_SETTLE_QUIET_MS 1000u

/* What mac_logic_repaint_due decided. */
#define MAC_REPAINT_NONE 0
#define MAC_REPAINT_BURST 1     /* not counted in the statistics */
#define MAC_REPAINT_SETTLE 2    /* counted */
#define MAC_REPAINT_SCHEDULED 3 /* counted */

/* The schedule's fields, all ticks in ms (0 = none for the deadlines). */
typedef struct MacRepaintSchedule {
    uint64_t burstEnd;
    uint64_t nextBurstRepaint;
    uint64_t lastFrameTick;
    uint64_t lastSettleRepaint;
    uint64_t nextScheduledRepaint;
    int32_t repaintIndex;
    uint64_t riskUntil;
} MacRepaintSchedule;

/* Interval to the next scheduled repaint: 30 s inside the risk window (index
 * unchanged), else the delay for *repaintIndex (limited to 0-6), moving the
 * index on until it reaches 6. A null index reads as 0. */
MAC_LOGIC_API uint32_t mac_logic_next_repaint_ms(int32_t* repaintIndex, uint64_t now,
                                                 uint64_t riskUntil) MAC_LOGIC_NOEXCEPT;

/* Starts a burst of full frames, the first one firstDelayMs from now. */
MAC_LOGIC_API void mac_logic_repaint_burst(MacRepaintSchedule* s, uint64_t now,
                                           uint32_t firstDelayMs) MAC_LOGIC_NOEXCEPT;

/* A new client became ready: burst plus the schedule from its start. */
MAC_LOGIC_API void mac_logic_repaint_connect(MacRepaintSchedule* s,
                                             uint64_t now) MAC_LOGIC_NOEXCEPT;

/* A risk event: repaint every 30 s for the next 3 minutes; the next
 * scheduled repaint only ever moves nearer. */
MAC_LOGIC_API void mac_logic_repaint_risk(MacRepaintSchedule* s, uint64_t now) MAC_LOGIC_NOEXCEPT;

/* One loop turn with an active client: the first repaint that applies, with
 * the schedule moved on. *logIndex (optional) receives the repaint number for
 * "scheduled repaint %d after the client connected", or -1 for no line. */
MAC_LOGIC_API int32_t mac_logic_repaint_due(MacRepaintSchedule* s, uint64_t now,
                                            int32_t* logIndex) MAC_LOGIC_NOEXCEPT;

#define MAC_ACK_CHECK_MS 1000u
#define MAC_ACK_LOG_MS 10000u
#define MAC_ACK_STALL_MS 60000u
#define MAC_ACK_LOG_ABOVE 2u
#define MAC_ACK_STALL_ABOVE 30u

/* Verdict bits of mac_logic_ack_verdict. */
#define MAC_ACK_LOG 0x1   /* "frames sent but not yet acknowledged..." */
#define MAC_ACK_STALL 0x2 /* stall: warning, risk event, settle repaint */

typedef struct MacAckWatch {
    uint64_t nextAckCheck;
    uint64_t nextAckLog;
    uint64_t lastStall; /* 0 = never */
} MacAckWatch;

/* 1 when the in-flight count is to be read this turn (and the next check is
 * booked a second later), else 0. */
MAC_LOGIC_API int32_t mac_logic_ack_due(MacAckWatch* w, uint64_t now) MAC_LOGIC_NOEXCEPT;

/* MAC_ACK_* bits for the largest in-flight count of the acknowledging
 * clients; books the next log line and the stall time. */
MAC_LOGIC_API int32_t mac_logic_ack_verdict(MacAckWatch* w, uint32_t maxInflight,
                                            uint64_t now) MAC_LOGIC_NOEXCEPT;

/* ---- Sound between sounds --------------------------------------------- */

/* Silence is sent for a quarter of a second after the last sound, so that
 * a client plays a sound's tail out, and then not at all until sound comes
 * back: a still desktop costs no buffers, messages or bytes per client. */
#define MAC_SILENCE_HOLD_FRAMES 11025u /* 250 ms at 44100 Hz */

typedef struct MacSilenceGate {
    uint64_t silentFrames; /* frames of exact silence since the last sound */
} MacSilenceGate;

/* 1 when the buffer of `frames` frames (`count` samples, interleaved) is to
 * be sent: it holds sound, or the silence after a sound has not yet lasted
 * MAC_SILENCE_HOLD_FRAMES with it; else 0. A zeroed gate starts as right
 * after a sound. Null samples count as silence. */
MAC_LOGIC_API int32_t mac_logic_silence_send(MacSilenceGate* g, const int16_t* samples,
                                             size_t count, size_t frames) MAC_LOGIC_NOEXCEPT;

/* ---- Asking the person at the desktop --------------------------------- */

/* MAC_SHADOW_ASK: what happens when a client has logged in. */
#define MAC_ASK_ALLOW 0       /* let it in */
#define MAC_ASK_ASK 1         /* ask the host */
#define MAC_ASK_UNLESS_AWAY 2 /* ask, but let it in when nobody is at the desktop */

/* MAC_SHADOW_LOCK_ON_LEAVE. */
#define MAC_LOCK_AUTO 0
#define MAC_LOCK_ON 1
#define MAC_LOCK_OFF 2

#define MAC_ASK_TIMEOUT_DEFAULT_S 30u
#define MAC_ASK_TIMEOUT_MIN_S 5u
#define MAC_ASK_TIMEOUT_MAX_S 600u
#define MAC_AWAY_IDLE_DEFAULT_S 300u
#define MAC_AWAY_IDLE_MIN_S 1u
#define MAC_AWAY_IDLE_MAX_S 86400u
/* A client back this soon after its connection dropped is let in again. */
#define MAC_RECONNECT_GRACE_MS 60000u

/* Each reader answers 1 for a value it takes (unset or empty is the
 * default and taken) and 0 for one it refuses; *out is then the default. */
MAC_LOGIC_API int32_t mac_logic_ask_mode(const char* value, int32_t* out) MAC_LOGIC_NOEXCEPT;
MAC_LOGIC_API int32_t mac_logic_lock_on_leave_mode(const char* value,
                                                   int32_t* out) MAC_LOGIC_NOEXCEPT;
/* Whole seconds in [min, max], digits only. */
MAC_LOGIC_API int32_t mac_logic_seconds_value(const char* value, uint32_t min, uint32_t max,
                                              uint32_t fallback, uint32_t* out) MAC_LOGIC_NOEXCEPT;

/* What the platform could tell about the person at the desktop; a fact it
 * could not learn is marked unknown and counts for nothing. */
typedef struct MacPresence {
    int32_t lockedKnown;
    int32_t locked; /* the session is locked or its screen saver runs */
    int32_t idleKnown;
    uint64_t idleMs; /* since the last local input */
} MacPresence;

/* 1 when nobody is at the desktop: locked, or idle for at least
 * awayIdleMs; 0 otherwise (also when nothing is known). */
MAC_LOGIC_API int32_t mac_logic_nobody_at_desktop(const MacPresence* p,
                                                  uint64_t awayIdleMs) MAC_LOGIC_NOEXCEPT;

/* What becomes of a client that has logged in. */
#define MAC_ARRIVAL_LET_IN 0           /* the setting lets everyone in */
#define MAC_ARRIVAL_GRACE 1            /* back after a drop: its old mode, no question */
#define MAC_ARRIVAL_AWAY 2             /* nobody at the desktop, and the setting allows it */
#define MAC_ARRIVAL_PROMPT 3           /* held until the host answers */
#define MAC_ARRIVAL_REFUSE_NO_READER 4 /* nobody could be asked */
MAC_LOGIC_API int32_t mac_logic_arrival(int32_t askMode, int32_t reconnectGrace,
                                        int32_t nobodyThere,
                                        int32_t readerConnected) MAC_LOGIC_NOEXCEPT;

/* The answer a prompt gets when its time is up: 1 allow, 0 refuse. */
MAC_LOGIC_API int32_t mac_logic_timeout_allows(int32_t askMode,
                                               int32_t nobodyThere) MAC_LOGIC_NOEXCEPT;

/* How a connection ended, for the reconnect grace. */
#define MAC_END_DROPPED 0 /* the connection ended by itself */
#define MAC_END_REFUSED 1 /* the host (or a timeout) refused it */
#define MAC_END_HOST 2    /* the host disconnected it */

typedef struct MacLeaving {
    char account[256];
    char address[64];
    uint64_t at; /* when it ended */
    int32_t end; /* MAC_END_* */
    int32_t viewOnly;
} MacLeaving;

/* 1 when a client of `account` from `address` logging in at `now` comes back
 * from the connection `l` describes: the same account and address, a drop
 * (not a refusal or a host disconnect) at most MAC_RECONNECT_GRACE_MS ago. */
MAC_LOGIC_API int32_t mac_logic_reconnect_grace(const MacLeaving* l, const char* account,
                                                const char* address,
                                                uint64_t now) MAC_LOGIC_NOEXCEPT;

/* 1 when the session is to be locked as the last client leaves. */
MAC_LOGIC_API int32_t mac_logic_lock_on_leave(int32_t setting,
                                              int32_t nobodyWhenFirstCame) MAC_LOGIC_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_MAC_LOGIC_H */
