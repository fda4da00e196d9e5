#include "app/core/text_util.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace corvane::app::text {

std::vector<std::string> split(const std::string& text, char separator, bool keepEmpty) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t stop = text.find(separator, start);
        std::string part = text.substr(start, stop == std::string::npos ? stop : stop - start);
        if (keepEmpty || !part.empty())
            parts.push_back(std::move(part));
        if (stop == std::string::npos)
            break;
        start = stop + 1;
    }
    return parts;
}

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i)
            joined += separator;
        joined += parts[i];
    }
    return joined;
}

std::string trimmed(const std::string& text) {
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    size_t begin = 0, end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::optional<long long> parseDecimal(const std::string& text) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+')
        ++begin;
    if (begin == end)
        return std::nullopt;
    long long value = 0;
    auto [stop, error] = std::from_chars(begin, end, value, 10);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return content.str();
}

} // namespace corvane::app::text
