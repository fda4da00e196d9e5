// Frame intake and publishing: captured frames are copied into the shadow
// surface and handed to the shadow server.
#pragma once
#include <cstdint>

#include "mac_shadow.h"

extern "C" {
void mac_shadow_frame_callback(void* user, int32_t origin_x, int32_t origin_y,
                               const uint8_t* pixels, intptr_t stride, int32_t width,
                               int32_t height, const int32_t* rects, int32_t rect_count);
// Hands the surface's invalid region to the shadow server (under frameLock).
void mac_shadow_publish(macShadowSubsystem* record);
// Publishes even when the screen has no new changes: the clients whose
// changes were held for their acknowledgements send them.
void mac_shadow_publish_held_changes(macShadowSubsystem* record);
// Sends the whole surface again.
void mac_shadow_push_last_frame(macShadowSubsystem* record);
// Starts the capture streams for the current layout: 0 = started.
int mac_shadow_start_capture(macShadowSubsystem* record);
}

// Resets the process-wide capture statistics window (tests).
void mac_shadow_reset_capture_stats(void);
