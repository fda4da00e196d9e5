// Logging of the subsystem core: every line goes through WLog under one tag,
// carrying our source file name, the line and the function. A line is only
// formatted when its level is active.
#pragma once
#include <winpr/wlog.h>

extern "C" void mac_log_print(DWORD level, size_t line, const char* function,
                                   const char* format, ...) __attribute__((format(printf, 4, 5)));
extern "C" BOOL mac_log_active(DWORD level);

#define MAC_LOG_FN(level, fn, ...) mac_log_print(level, __LINE__, fn, __VA_ARGS__)
#define MAC_LOG(level, ...) mac_log_print(level, __LINE__, __func__, __VA_ARGS__)
#define MAC_INFO(...) MAC_LOG(WLOG_INFO, __VA_ARGS__)
#define MAC_WARN(...) MAC_LOG(WLOG_WARN, __VA_ARGS__)
#define MAC_ERROR(...) MAC_LOG(WLOG_ERROR, __VA_ARGS__)
