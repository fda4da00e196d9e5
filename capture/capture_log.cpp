#include "capture_log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace corvane::capture {

void log(const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    // One write per line so that lines of concurrent streams do not mix.
    std::string line = std::string("mac_capture: ") + message + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace corvane::capture
