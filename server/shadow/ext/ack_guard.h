// The library counts a client's frames in flight as the id of the last frame
// it sent minus the id of the last frame the client acknowledged. When it
// starts counting afresh (a new size, a new encoder) both go back to 0, and an
// acknowledgement still on its way for a frame of the old count then lies
// ahead of every frame sent: the difference wraps to about four billion. The
// library then drops the client's frame rate to 1 for as many frames as that
// old id, and divides by zero when the old id was 1. Here that count is read
// for what it is: no frame of the new count is waiting.
#pragma once
#include <winpr/wtypes.h>

#ifdef __cplusplus
extern "C" {
#endif

// Pure: the frames in flight for the library's count `counted` (sent minus
// acknowledged, modulo 2^32): itself, or 0 when the acknowledgement lies
// ahead of the frames sent.
UINT32 shadow_ext_frames_in_flight(UINT32 counted);

#ifdef __cplusplus
}
#endif
