// The server's log lines, captured through a WLog callback appender: each
// line's text, and the same with its level and function ("[WARN] f: text").
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include <winpr/wlog.h>

namespace log_capture {

struct Line {
    std::string text, full;
};

inline std::mutex gMutex;
inline std::vector<Line> gLines;

inline BOOL onMessage(const wLogMessage* msg) {
    if (!msg)
        return TRUE;
    const char* level = msg->Level == WLOG_INFO    ? "INFO"
                        : msg->Level == WLOG_WARN  ? "WARN"
                        : msg->Level == WLOG_ERROR ? "ERROR"
                                                   : "OTHER";
    std::string text = msg->TextString ? msg->TextString : "";
    std::string full = std::string("[") + level + "] " +
                       (msg->FunctionName ? msg->FunctionName : "?") + ": " + text;
    std::lock_guard lock(gMutex);
    gLines.push_back({std::move(text), std::move(full)});
    return TRUE;
}

// Sends every line of the root logger to the capture and empties it.
inline void install() {
    wLog* root = WLog_GetRoot();
    WLog_SetLogAppenderType(root, WLOG_APPENDER_CALLBACK);
    wLogCallbacks callbacks{};
    callbacks.message = onMessage;
    WLog_ConfigureAppender(WLog_GetLogAppender(root), "callbacks", &callbacks);
    std::lock_guard lock(gMutex);
    gLines.clear();
}

inline void clear() {
    std::lock_guard lock(gMutex);
    gLines.clear();
}

// The lines' texts (or with `full`, with level and function).
inline std::vector<std::string> lines(bool full) {
    std::lock_guard lock(gMutex);
    std::vector<std::string> out;
    for (const Line& l : gLines)
        out.push_back(full ? l.full : l.text);
    return out;
}

inline size_t count(const std::string& part, bool full) {
    size_t n = 0;
    for (const std::string& line : lines(full))
        n += line.find(part) != std::string::npos;
    return n;
}

} // namespace log_capture
