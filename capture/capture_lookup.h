// Finding a display among the shareable content, with tries and time limits.
#pragma once
#include <chrono>
#include <optional>

#include "platform/capture.h"

namespace corvane::capture {

inline constexpr std::chrono::milliseconds kContentQueryLimit{10000};
inline constexpr std::chrono::milliseconds kRetryPause{300};
inline constexpr int32_t kTriesForVirtualDisplay = 12;

// Display 0 is the main display, or the first listed one when the main
// display is not among them; any other id must match exactly.
std::optional<platform::CaptureDisplay> pickDisplay(const platform::ShareableContent& content,
                                                    uint32_t displayId);

// Asks for the content up to `tries` times, 0.3 s apart, each answer awaited
// for at most 10 s; a query that does not answer in time ends the look-up.
std::optional<platform::CaptureDisplay> findDisplay(platform::Capture& capture, uint32_t displayId,
                                                    int32_t tries);

} // namespace corvane::capture
