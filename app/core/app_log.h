// The application's log lines: "[HH:mm:ss.SSS] [Corvane app] message\n",
// appended to the log file that also receives the server's output. The log
// holds login attempts with account names and addresses: its folder is the
// user's alone (0700), the file too (0600), and it is rotated at a size.
#pragma once
#include <string>
#include <string_view>

namespace corvane::app {

// The line as written, for the local time now.
std::string formatLogLine(std::string_view message);
// Appends one application line to the log file (creating the file and its
// directory when needed). Every failure is ignored: logging never stops work.
void appendLogLine(std::string_view message);
// Appends one line to an explicit file (the writer behind appendLogLine).
void appendLogLineTo(const std::string& path, std::string_view message);

// Opens a log file for appending, with its folder made private and the file
// readable by the user only, whatever it was before; -1 on failure.
int openLogForAppend(const std::string& path);

inline constexpr unsigned long long kLogRotateBytes = 5ull << 20;
inline constexpr int kLogFilesKept = 3;
// Once the log has reached `limit` bytes: LOG.2 becomes LOG.3 and so on up to
// `kept` files, a copy of the log becomes LOG.1, and the log is emptied in
// place. Emptied, not replaced: the server appends to it through a
// descriptor of its own and goes on writing into the same, now short, file.
// True when it rotated.
bool rotateLogIfLarge(const std::string& path, unsigned long long limit = kLogRotateBytes,
                      int kept = kLogFilesKept);
// A line for the system log rather than the application's file.
void systemLog(const std::string& line);

} // namespace corvane::app
