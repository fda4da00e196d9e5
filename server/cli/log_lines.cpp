#include "log_lines.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <winpr/wlog.h>

#include "base/clock.h"

namespace {

// The console appender's own layout, so the lines look as they always did.
constexpr char kLayout[] = "[%hr:%mi:%se:%ml] [%pid:%tid] [%lv][%mn] - [%fn]: ";

std::mutex gMutex; // guards gLimiter and keeps lines whole
RepeatLimiter gLimiter;

BOOL printLine(const wLogMessage* message) {
    if (!message || !message->TextString)
        return TRUE;
    const std::string prefix = message->PrefixString ? message->PrefixString : "";
    FILE* stream = message->Level >= WLOG_WARN ? stderr : stdout;
    const std::string tag = corvane_log_prefix_tag(prefix);
    std::lock_guard<std::mutex> lock(gMutex);
    if (!corvane_log_tag_limited(tag)) {
        std::fprintf(stream, "%s%s\n", prefix.c_str(), message->TextString);
        return TRUE;
    }
    const std::string key =
        tag + '\x1f' + (message->FunctionName ? message->FunctionName : "") + '\x1f' +
        message->TextString;
    const RepeatLimiter::Verdict verdict = gLimiter.offer(key, mac_now_ms());
    if (!verdict.print)
        return TRUE;
    if (verdict.heldBack > 0)
        std::fprintf(stream, "%s%s (and %llu more times in the last minute)\n", prefix.c_str(),
                     message->TextString, static_cast<unsigned long long>(verdict.heldBack));
    else
        std::fprintf(stream, "%s%s\n", prefix.c_str(), message->TextString);
    return TRUE;
}

} // namespace

RepeatLimiter::Verdict RepeatLimiter::offer(const std::string& line, uint64_t nowMs) {
    auto it = seen_.find(line);
    if (it == seen_.end()) {
        // A full table forgets everything: at worst a line prints early.
        if (seen_.size() >= kMaxLines)
            seen_.clear();
        seen_.emplace(line, Seen{nowMs, 0});
        return {true, 0};
    }
    Seen& seen = it->second;
    if (nowMs - seen.printedAtMs < kWindowMs) {
        seen.heldBack++;
        return {false, 0};
    }
    const uint64_t heldBack = seen.heldBack;
    seen = Seen{nowMs, 0};
    return {true, heldBack};
}

bool corvane_log_tag_limited(const std::string& tag) {
    static const char* const kLimited[] = {"com.freerdp.codec", "com.winpr.utils.image"};
    for (const char* limited : kLimited) {
        const std::string prefix = limited;
        if (tag.compare(0, prefix.size(), prefix) == 0 &&
            (tag.size() == prefix.size() || tag[prefix.size()] == '.'))
            return true;
    }
    return false;
}

std::string corvane_log_prefix_tag(const std::string& prefix) {
    // "...[LEVEL][tag] - [function]: ": the tag closes before " - [".
    const size_t end = prefix.find("] - [");
    if (end == std::string::npos)
        return "";
    const size_t open = prefix.rfind("][", end);
    if (open == std::string::npos)
        return "";
    return prefix.substr(open + 2, end - open - 2);
}

void corvane_install_log_lines() {
    if (std::getenv("WLOG_APPENDER"))
        return;
    wLog* root = WLog_GetRoot();
    if (!root || !WLog_SetLogAppenderType(root, WLOG_APPENDER_CALLBACK))
        return;
    wLogAppender* appender = WLog_GetLogAppender(root);
    static wLogCallbacks callbacks = {};
    callbacks.message = printLine;
    if (!appender || !WLog_ConfigureAppender(appender, "callbacks", &callbacks)) {
        WLog_SetLogAppenderType(root, WLOG_APPENDER_CONSOLE);
        return;
    }
    WLog_Layout_SetPrefixFormat(root, WLog_GetLogLayout(root), kLayout);
}
