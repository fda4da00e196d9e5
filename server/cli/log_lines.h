// The server's log on its standard streams, as WinPR's console prints it,
// with one difference: the library's per-frame modules (its codecs, its image
// loader) say the same thing many times a second on a still desktop, so a
// line of theirs that repeats within a minute is counted instead of printed,
// and the count goes out with its next appearance.
#pragma once
#include <cstdint>
#include <map>
#include <string>

// Decides which repeats of a line are printed; times in milliseconds.
class RepeatLimiter {
  public:
    struct Verdict {
        bool print;
        uint64_t heldBack; // repeats not printed since it was last printed
    };
    static constexpr uint64_t kWindowMs = 60000;
    static constexpr size_t kMaxLines = 256; // distinct lines remembered

    Verdict offer(const std::string& line, uint64_t nowMs);

  private:
    struct Seen {
        uint64_t printedAtMs;
        uint64_t heldBack;
    };
    std::map<std::string, Seen> seen_;
};

// Whether a logger's lines are limited: the library's per-frame modules.
bool corvane_log_tag_limited(const std::string& tag);

// The logger's tag in a line prefix of the layout installed below
// ("[time] [pid:tid] [LEVEL][tag] - [function]: "), "" when there is none.
std::string corvane_log_prefix_tag(const std::string& prefix);

// Routes the root logger through the limiter, unless WLOG_APPENDER chose
// another appender.
void corvane_install_log_lines();
