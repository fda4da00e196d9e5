// The capture bridge: plain exported functions over the desktop services.
// Results: 1 = done, 0 = not done. Buffers handed out come from the standard
// heap; the caller releases them with free().
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// 1 when the process may post input events; with prompt, ask the user first.
int32_t mac_accessibility_trusted(int32_t prompt);
// 1 when the process may capture the screen; with request, ask first.
int32_t mac_screen_access(int32_t request);
// The user's double-click interval in milliseconds.
int32_t mac_double_click_ms(void);
// A value that changes whenever the cursor image changes; -1 when unknown.
int32_t mac_cursor_seed(void);
// The current cursor as premultiplied B, G, R, A pixels, `scale` desktop
// pixels per point, no edge longer than max_size (at least 8). 1 = stored
// (the caller frees *pixels), 0 = nothing stored.
int32_t mac_cursor_image(double scale, int32_t max_size, uint8_t** pixels, int32_t* width,
                         int32_t* height, int32_t* hot_x, int32_t* hot_y);

#ifdef __cplusplus
}
#endif
