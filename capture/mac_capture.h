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
// Checks a local account's password: 1 = right, 0 = wrong (or no such
// account, or an empty account or password), -1 = the account service could
// not be asked.
int32_t mac_auth_verify(const char* account, const char* password);

// Screen capture streams. Frames arrive on one thread per stream: pixels are
// B, G, R, A rows top-down; rects holds rect_count times x, y, width, height
// in frame pixels (0 rectangles: no usable change information). Both
// pointers are valid only during the call.
typedef void (*mac_frame_callback)(void* user, int32_t origin_x, int32_t origin_y,
                                   const uint8_t* pixels, intptr_t stride, int32_t width,
                                   int32_t height, const int32_t* rects, int32_t rect_count);
// Starts a stream of a display (0 = main) with frames of width x height; the
// picture goes into the destination rectangle when that is set and differs
// from the frame size. 0 = running, -1 = failure. Blocks up to 15 s (plus the
// display look-up).
int32_t mac_capture_add(uint32_t display_id, int32_t width, int32_t height, int32_t dest_x,
                        int32_t dest_y, int32_t dest_w, int32_t dest_h, int32_t origin_x,
                        int32_t origin_y, mac_frame_callback callback, void* user);
// Sets every running stream's frame rate (outside 1..60: 30); does not wait.
void mac_capture_set_fps(int32_t fps);
// Stops every stream, waiting up to 5 s for each. No frame callback starts
// after it returns; one already running may still be running.
void mac_capture_stop(void);
// Waits up to ms for every frame callback in progress to return: 1 = none
// runs, 0 = one still runs.
int32_t mac_capture_wait_idle(int32_t ms);
// How many times the display server ended a stream on its own.
int64_t mac_capture_stopped_count(void);
// A display's frame in points in the global display space: 1 = found.
int32_t mac_display_frame(uint32_t display_id, int32_t* x, int32_t* y, int32_t* w, int32_t* h);

// The desktop's clipboard. Text is NUL-terminated UTF-8 (cut at the first
// NUL when read); pictures are width x height B, G, R, A pixels, rows
// top-down, width and height 1-8192 and at most 16777216 pixels. What a get
// function stores belongs to the caller (free()); set functions copy.
int32_t mac_clipboard_get(char** text);
int32_t mac_clipboard_set(const char* text);
// Bit 0: text is there; bit 1: a picture (PNG or TIFF) is there.
uint32_t mac_clipboard_available(void);
// Transparent parts come back laid over white.
int32_t mac_clipboard_get_image(uint8_t** pixels, uint32_t* width, uint32_t* height);
// Stores the pixels (straight alpha) as PNG.
int32_t mac_clipboard_set_image(const uint8_t* pixels, uint32_t width, uint32_t height);
// Grows whenever anyone replaces the clipboard's contents.
int64_t mac_clipboard_change_count(void);
// System sound, converted to 44100 Hz, 16-bit, stereo: `frames` frames of
// interleaved left/right samples, valid only during the call; `timestamp` is
// the capture time in milliseconds modulo 2^32 (0 when unknown).
typedef void (*mac_audio_callback)(void* user, const int16_t* samples, intptr_t frames,
                                   uint32_t timestamp);
// Installs the sound receiver (null: none). Only streams started afterwards
// capture sound, and only the first running one; a null callback makes
// running streams drop their sound. The receiver is called from the sound's
// own thread; once the stream that carries sound has stopped (or the
// callback was replaced), it is not called any more.
void mac_capture_set_audio(mac_audio_callback callback, void* user);
// The sound's capture starts and stops on a thread of its own, so that a
// sound server that does not answer holds up no stream. Waits up to `ms`
// until it runs or is stopped as the streams want; 1 when it is.
int32_t mac_capture_sound_settle(int32_t ms);
// Virtual displays: a display of width x height pixels (hidpi: a 2x mode of
// half as many points) for monitor `index` of a creation round (`toggle`'s
// lowest bit tells consecutive rounds apart). Returns its id, 0 on failure.
uint32_t mac_vdisplay_create(uint32_t width, uint32_t height, int32_t refreshRate, int32_t index,
                             uint32_t toggle, int32_t hidpi);
// Removes one virtual display; an unknown id does nothing.
void mac_vdisplay_destroy(uint32_t id);
// Removes every virtual display.
void mac_vdisplay_destroy_all(void);

#ifdef __cplusplus
}
#endif
