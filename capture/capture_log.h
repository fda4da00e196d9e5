// The capture bridge's log: one line per call on standard error, each line
// starting with "mac_capture: ".
#pragma once

namespace corvane::capture {

void log(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace corvane::capture
