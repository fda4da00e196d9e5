// The subsystem record: the shadow library's record (with the extension
// slots) followed by our own fields, one zero-filled block per process.
#pragma once
#include <atomic>
#include <cstdint>

#include <freerdp/server/shadow.h>
#include <winpr/synch.h>

#include "server/shadow/ext/shadow_ext.h"
#include "logic/mac_logic.h"

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

typedef struct macShadowSubsystem {
    rdpShadowSubsystemExt common;

    int32_t desktopWidth, desktopHeight;
    bool mainDisplayHiDPI;
    uint32_t modifierState;
    std::atomic<int64_t> clipboardChangeCount;
    uint64_t nextClipboardPoll;
    MacRect captureRect;
    int32_t mainPointsWidth, mainPointsHeight;
    bool resizePending;
    uint64_t resizeRequestTick;
    DesktopPlan pendingPlan;
    DesktopPlan currentPlan;
    DesktopPlan lastClientPlan;
    bool lastClientPlanValid;
    DisplayMapping mappings[16];
    int32_t mappingCount;
    bool virtualActive;
    uint32_t virtualIds[16];
    int32_t virtualCount;
    uint32_t mirroredDisplays[16];
    int32_t mirroredCount;
    int32_t createToggle;
    uint64_t resizeHoldUntil;
    int32_t lastDeferredSerial;
    CRITICAL_SECTION displayLock;
    std::atomic<int32_t> tearingDown;
    uint32_t displayAssertionId, systemAssertionId;
    bool displayAssertionHeld;
    uint64_t soundState;
    std::atomic<bool> pictureCaptured; // written by capture, read by the subsystem thread
    uint64_t lastRepaintSkipLog;
    bool captureDown;
    uint64_t stoppedCountSeen;
    uint64_t nextCaptureRestart;
    uint64_t nextActivityDeclare;
    std::atomic<bool> inputSeen; // written by client threads, read by the subsystem thread
    uint64_t lastRemoteInput;
    uint64_t idleAwakeMs;
    bool idleLogged;
    int32_t cursorSeed;
    double cursorScale;
    int32_t cursorSize;
    rdpShadowClient* knownClients[16];
    int32_t knownClientCount;
    uint64_t nextCursorCheck, nextAckLog;
    int32_t lastSingleWidth, lastSingleHeight, sameSingleCount, layoutCounter;
    int32_t resizeSerialCounter, resizeSerial, appliedSerial;
    std::atomic<int32_t> connectingCount, publishingCount;
    uint64_t noClientsSince;
    int32_t initialWidth, initialHeight;
    int32_t mainPixelWidth, mainPixelHeight;
    bool leftHeld, rightHeld, middleHeld;
    uint64_t lastClickTick;
    int32_t lastClickButton;
    double lastClickX, lastClickY;
    int32_t clickCount;
    CRITICAL_SECTION subsystemLock;
    CRITICAL_SECTION frameLock;
    MacConnTable connTable;
    MacLockoutTable lockoutTable;
    MacAccountTable accountTable;
    uint64_t lastResizeTick;
    CRITICAL_SECTION loginLock;
    bool nlaConfigured;
    char nlaUser[128];
    uint8_t nlaHash[16];
    uint64_t framesReceived;
    uint64_t burstEnd, nextBurstRepaint, lastFrameTick, lastSettleRepaint;
    uint64_t nextScheduledRepaint;
    int32_t repaintIndex;
    uint64_t riskUntil;
    uint64_t sessions, repaints, resizes, riskEvents, stalls;
    uint64_t nextAckCheck, lastStall, nextStatsWrite;
    int64_t activeClients;
    int32_t fps;
    int32_t targetFps;
    int32_t activeClientsSeen;
    double changeAverage;
    uint64_t lowerSince;
    bool adaptiveFps;
    int32_t captureFps;
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
