// The subsystem record: the shadow library's record (with the extension
// slots) followed by our own fields, one zero-filled block per process. Our
// fields come in blocks by the folder that owns them and what guards them.
#pragma once
#include <atomic>
#include <cstdint>

#include <freerdp/server/shadow.h>
#include <winpr/synch.h>

#include "logic/mac_logic.h"
#include "server/shadow/ext/shadow_ext.h"

extern "C" {

// How one captured display lies in the desktop (pixels) and on the desktop
// host (points), for mapping pointer positions.
typedef struct {
    int32_t x, y, width, height;
    double macX, macY;
    double pointsPerPixel;
} DisplayMapping;

typedef struct {
    int32_t x, y, width, height;
} MacRect;

// The threads that reach the record:
//   the subsystem thread  loop/thread.cpp: every timed step, plan hand-over
//                         and apply, repaints, power, clipboard watch, cursor
//   client threads        the shadow library's thread per client and its
//                         channel threads: input, connect, display control,
//                         clipboard, logins
//   the listener          admits connections (PeerInit)
//   capture delivery      one thread per capture stream (so one per virtual
//                         display); the stream that carries sound also runs
//                         the sound receiver
//   the teardown          on the termination thread (signals, parent watch)
//                         or in Stop, while the subsystem thread still runs
// Init fills the fields marked "set once at init" before Start starts any of
// them.
//
// Lock order: a thread that holds a lock may take those to its right, never
// one to its left.
//   displayLock -> frameLock -> subsystemLock
//   frameLock -> the surface's lock, the server's client list, and the
//                library's own locks inside frameUpdate and screenResize
// displayLock is taken again, recursively, inside the apply step and the
// teardown (capture start, keep awake). loginLock and the input lock
// (mac_input_held::lock()) are leaves: never taken under another of these
// locks, and none is taken under them; the one exception is the control
// channel's session lock (control/control_sessions.h), which a mode switch
// holds while it takes the input lock and the clipboard channel's lock, and
// which the subsystem thread takes under the server's client list.
//
typedef struct macShadowSubsystem {
    // The library's record and our extension slots: the library reads the
    // head of the block as its own record, so it stays first.
    rdpShadowSubsystemExt common;

    // ---- core ----
    // Set once at init: created by Init, deleted by Free.
    CRITICAL_SECTION subsystemLock;
    CRITICAL_SECTION frameLock;
    CRITICAL_SECTION displayLock;
    CRITICAL_SECTION loginLock;
    // Atomic: set by the teardown and Free, read by the subsystem thread and
    // (under displayLock, so that no stream starts after the teardown's
    // stop) by every capture start.
    std::atomic<int32_t> tearingDown;

    // ---- core: the desktop session (core/desktop_session.cpp) ----
    // Atomic: client threads open the session (under the session component's
    // lock), the subsystem thread closes it, and the capture start reads it.
    std::atomic<bool> sessionOpen;
    // Atomic: which opening of the session this is (counts up), and which
    // one the compositor ended (set on the backend's thread, acted on by the
    // subsystem thread; an end of an earlier opening is not acted on).
    std::atomic<int32_t> sessionGeneration;
    std::atomic<int32_t> sessionEndedGeneration;
    // Atomic: set when the session opens, cleared by the next capture start.
    std::atomic<bool> sessionCaptureDue;
    // Atomic: set at Start when the desktop takes no input; read by every
    // input callback.
    std::atomic<bool> viewOnly;

    // ---- loop: capture rate ----
    // Set once at init.
    int32_t fps;
    bool adaptiveFps;
    uint64_t idleAwakeMs;
    // frameLock: capture delivery (each frame) and the subsystem thread
    // (active client count).
    int32_t targetFps;
    int32_t captureFps;
    int32_t activeClientsSeen;
    double changeAverage;
    uint64_t lowerSince;

    // ---- loop: frames ----
    // Atomic: capture delivery sets it, the apply step clears it, the
    // subsystem thread's repaints read it.
    std::atomic<bool> pictureCaptured;
    // Atomic: a client's connect step and a publication (capture delivery
    // or a repaint) keep out of each other's way.
    std::atomic<int32_t> connectingCount, publishingCount;
    // Atomic: every stream's delivery thread counts and stamps its frames;
    // the subsystem thread's repaint schedule reads the stamp.
    std::atomic<uint64_t> framesReceived;
    std::atomic<uint64_t> lastFrameTick;

    // ---- loop: power ----
    // displayLock: the subsystem thread and the teardown.
    uint32_t displayAssertionId, systemAssertionId;
    // Atomic as well: the subsystem thread's idle step reads it without
    // displayLock while the teardown may release the assertion.
    std::atomic<bool> displayAssertionHeld;
    // Atomic: client threads set it on input; the subsystem thread reads
    // and clears it.
    std::atomic<bool> inputSeen;

    // ---- loop ----
    // Subsystem thread only (Start sets captureDown before the thread exists).
    bool captureDown;
    uint64_t stoppedCountSeen;
    uint64_t nextCaptureRestart;
    uint64_t nextActivityDeclare;
    uint64_t lastRemoteInput;
    bool idleLogged;
    uint64_t lastRepaintSkipLog;
    rdpShadowClient* knownClients[16]; // also read by cursor forwarding
    int32_t knownClientCount;
    uint64_t noClientsSince;
    int64_t activeClients;
    uint64_t burstEnd, nextBurstRepaint, lastSettleRepaint;
    uint64_t nextScheduledRepaint;
    int32_t repaintIndex;
    uint64_t riskUntil;
    uint64_t nextAckCheck, nextAckLog, lastStall;
    uint64_t sessions, repaints, resizes, riskEvents, stalls;
    uint64_t nextStatsWrite;

    // ---- layout ----
    // subsystemLock: client threads hand plans over and map pointer
    // positions, the subsystem thread takes plans and publishes results.
    DesktopPlan pendingPlan;
    bool resizePending;
    uint64_t resizeRequestTick;
    uint64_t resizeHoldUntil;
    int32_t resizeSerial;
    int32_t resizeSerialCounter;
    DesktopPlan lastClientPlan;
    bool lastClientPlanValid;
    DisplayMapping mappings[16];
    int32_t mappingCount;
    int32_t initialWidth, initialHeight;
    int32_t mainPixelWidth, mainPixelHeight;
    bool mainDisplayHiDPI;
    // Client threads read the pair under the lock when they limit a
    // requested plan; the subsystem thread, which writes it, reads it freely.
    int32_t mainPointsWidth, mainPointsHeight;
    // Atomic (__atomic builtins): stored by the subsystem thread, loaded by
    // client threads (the connect step's wait, the click trace line).
    int32_t desktopWidth, desktopHeight;
    int32_t appliedSerial;
    // displayLock: the apply step (subsystem thread) and the teardown.
    // virtualActive is atomic as well: the subsystem thread's last-client
    // check and statistics file read it without the lock while the teardown
    // may clear it.
    std::atomic<bool> virtualActive;
    uint32_t virtualIds[16];
    int32_t virtualCount;
    uint32_t mirroredDisplays[16];
    int32_t mirroredCount;
    int32_t createToggle;
    int32_t lastDeferredSerial;
    // Subsystem thread only (and Start, before the thread exists). The apply
    // step writes currentPlan and captureRect holding frameLock and
    // subsystemLock, so a reader elsewhere would need one of the two.
    DesktopPlan currentPlan;
    MacRect captureRect;
    uint64_t lastResizeTick;
    // The connect step and every client's display-control channel thread
    // run the layout callback at the same time: the counter is atomic, the
    // pinned-size hint's fields are under subsystemLock.
    std::atomic<int32_t> layoutCounter;
    int32_t lastSingleWidth, lastSingleHeight, sameSingleCount;

    // ---- input ----
    // The input lock (mac_input_held::lock()): client threads and the
    // teardown.
    uint32_t modifierState;
    bool leftHeld, rightHeld, middleHeld;
    uint64_t lastClickTick;
    int32_t lastClickButton;
    double lastClickX, lastClickY;
    int32_t clickCount;
    // Subsystem thread only: cursor forwarding.
    int32_t cursorSeed;
    double cursorScale;
    int32_t cursorSize;
    uint64_t nextCursorCheck;

    // ---- logins ----
    // loginLock: the listener and client threads.
    MacConnTable connTable;
    MacLockoutTable lockoutTable;
    MacAccountTable accountTable;
    // Set once at init, read by client threads.
    bool nlaConfigured;
    char nlaUser[128];
    uint8_t nlaHash[16];
    // Set once at init, read by client threads: who may log in with a
    // password (logins/login_allow.cpp). The rule of MAC_SHADOW_ALLOWED_USERS
    // (empty = the default rule), the server's own account, the
    // administrators group, and the rule as refusal lines name it.
    char allowedRule[1024];
    char ownerAccount[MAC_ACCOUNT_SIZE];
    char adminGroup[MAC_ACCOUNT_SIZE];
    char allowedRuleText[1280];
    // The rule could not be read: every password login is refused.
    bool allowedRuleBroken;

    // ---- sharing ----
    // Atomic: client threads (the clipboard channel) and the subsystem
    // thread (the clipboard watch).
    std::atomic<int64_t> clipboardChangeCount;
    // Subsystem thread only.
    uint64_t nextClipboardPoll;
    // The sound receiver only.
    uint64_t soundState;
} macShadowSubsystem;

// The one record of the process (set by Init); the termination handler
// reaches it through this pointer.
macShadowSubsystem* mac_shadow_record(void);
void mac_shadow_set_record(macShadowSubsystem* record);

// Lifecycle callbacks driven by the shadow server.
rdpShadowSubsystem* mac_shadow_subsystem_new(void);
void mac_shadow_subsystem_free(rdpShadowSubsystem* subsystem);
int mac_shadow_subsystem_init(rdpShadowSubsystem* subsystem);
int mac_shadow_subsystem_uninit(rdpShadowSubsystem* subsystem);
int mac_shadow_subsystem_start(rdpShadowSubsystem* subsystem);
int mac_shadow_subsystem_stop(rdpShadowSubsystem* subsystem);
UINT32 mac_shadow_enum_monitors(MONITOR_DEF* monitors, UINT32 maxMonitors);

void mac_shadow_message_free(UINT32 id, SHADOW_MSG_OUT* message);
int ShadowSubsystemEntry(RDP_SHADOW_ENTRY_POINTS* pEntryPoints);
const char* ShadowSubsystemName(void);

} // extern "C"

// The loop's pace lives in the library's record as a plain field; the capture
// thread sets it from the client's encoder while the subsystem thread reads it.
inline UINT32 mac_shadow_frame_rate(rdpShadowSubsystem* base) {
    return std::atomic_ref<UINT32>(base->captureFrameRate).load(std::memory_order_relaxed);
}
inline void mac_shadow_set_frame_rate(rdpShadowSubsystem* base, UINT32 fps) {
    std::atomic_ref<UINT32>(base->captureFrameRate).store(fps, std::memory_order_relaxed);
}
