// Small text helpers shared by the parsers of the application core.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace corvane::app::text {

// Splits at `separator`; `keepEmpty` false drops empty pieces.
std::vector<std::string> split(const std::string& text, char separator, bool keepEmpty);
std::string join(const std::vector<std::string>& parts, const std::string& separator);
// Without white space and line breaks at both ends.
std::string trimmed(const std::string& text);
// A whole decimal integer with an optional sign, nothing else.
std::optional<long long> parseDecimal(const std::string& text);
std::optional<std::string> readFile(const std::string& path);

} // namespace corvane::app::text
