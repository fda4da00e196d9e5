// How a stream is configured from the core's arguments and the environment.
#pragma once
#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/capture.h"

namespace corvane::capture {

inline constexpr int32_t kQueueDepth = 3;
inline constexpr int32_t kMaxFrameSide = 16384;

// MAC_SHADOW_FPS at capture start: the whole value must be a decimal number
// (optional sign, digits, nothing else) in 1..60; anything else gives 30.
int32_t captureFpsFrom(const char* value);
// A frame rate the core asks for: 1..60, anything else gives 30.
int32_t clampFps(int32_t fps);
std::chrono::nanoseconds frameInterval(int32_t fps);

// The destination rectangle is used only when both sides are above 0 and it
// differs from the frame size in at least one dimension.
std::optional<platform::Rect> destinationFor(int32_t width, int32_t height, int32_t destX,
                                             int32_t destY, int32_t destW, int32_t destH);

// Everything but sound, reading MAC_SHADOW_FPS and MAC_SHADOW_CURSOR now.
platform::CaptureSettings settingsFor(int32_t width, int32_t height,
                                      std::optional<platform::Rect> destination);

// Sound: the sound part of the bridge installs its callback here; while one
// is installed, the first running stream carries the system sound.
void setSoundCallbackInstalled(bool installed);
bool soundCallbackInstalled();

} // namespace corvane::capture
