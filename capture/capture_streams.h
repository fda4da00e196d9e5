// The process-wide list of running capture streams behind the exported
// mac_capture_* functions.
#pragma once
#include <chrono>
#include <cstddef>

namespace corvane::capture {

inline constexpr std::chrono::milliseconds kStartLimit{15000};
inline constexpr std::chrono::milliseconds kStopLimit{5000};

// Streams in the list (started and not yet stopped by mac_capture_stop).
size_t runningStreams();

} // namespace corvane::capture
