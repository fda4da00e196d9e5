// The application's log lines: "[HH:mm:ss.SSS] [Corvane app] message\n",
// appended to the log file that also receives the server's output.
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
// A line for the system log rather than the application's file.
void systemLog(const std::string& line);

} // namespace corvane::app
