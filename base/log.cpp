#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
constexpr const char* kTag = "com.freerdp.server.shadow.mac";
constexpr const char* kFile = "server/shadow/Mac/mac_shadow";

wLog* logger() {
    static wLog* log = WLog_Get(kTag); // looked up once, kept for the process
    return log;
}
} // namespace

extern "C" BOOL mac_log_active(DWORD level) {
    wLog* log = logger();
    return log && WLog_IsLevelActive(log, level);
}

extern "C" void mac_log_print(DWORD level, size_t line, const char* function,
                                   const char* format, ...) {
    wLog* log = logger();
    if (!log || !WLog_IsLevelActive(log, level))
        return;
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(needed) < sizeof small) {
        va_end(again);
        WLog_PrintMessage(log, WLOG_MESSAGE_TEXT, level, line, kFile, function, "%s", small);
        return;
    }
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, again);
    va_end(again);
    WLog_PrintMessage(log, WLOG_MESSAGE_TEXT, level, line, kFile, function, "%s", big.data());
}
