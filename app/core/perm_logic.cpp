#include "app/core/perm_logic.h"

#include "app/core/words.h"

namespace corvane::app {

std::vector<std::string> PermStatus::missingServices() const {
    std::vector<std::string> missing;
    if (!screen)
        missing.emplace_back(PermConst::screenService);
    if (!input)
        missing.emplace_back(PermConst::inputService);
    return missing;
}

ProbeLaunch permProbeLaunch(const std::string& mode, const Environment& baseEnvironment) {
    ProbeLaunch launch;
    launch.environment = baseEnvironment;
    launch.environment["MAC_SHADOW_PERMS"] = mode;
    launch.environment["WLOG_LEVEL"] = "ERROR";
    launch.arguments.push_back("/port:" + std::to_string(PermConst::probePort));
    return launch;
}

double permProbeTimeout(const std::string& mode) {
    return mode == "request" ? 20.0 : 10.0;
}

namespace {

// Length of the line break starting at `i` (0 when there is none): the ASCII
// breaks LF, VT, FF, CR and, in UTF-8, NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR.
size_t lineBreakLength(const std::string& text, size_t i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\v' || c == '\f' || c == '\r')
        return 1;
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85)
        return 2;
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80) {
        unsigned char last = static_cast<unsigned char>(text[i + 2]);
        if (last == 0xA8 || last == 0xA9)
            return 3;
    }
    return 0;
}

std::vector<std::string> nonEmptyLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < text.size();) {
        if (size_t length = lineBreakLength(text, i)) {
            if (!current.empty())
                lines.push_back(std::move(current));
            current.clear();
            i += length;
        } else {
            current.push_back(text[i++]);
        }
    }
    if (!current.empty())
        lines.push_back(std::move(current));
    return lines;
}

std::vector<std::string> wordsBetweenSpaces(const std::string& line) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start <= line.size()) {
        size_t space = line.find(' ', start);
        if (space == std::string::npos)
            space = line.size();
        if (space > start)
            words.push_back(line.substr(start, space - start));
        start = space + 1;
    }
    return words;
}

// "0" or "1" after `prefix`, else nothing.
std::optional<bool> probeFlag(const std::string& word, const std::string& prefix) {
    if (word.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    std::string rest = word.substr(prefix.size());
    if (rest == "1")
        return true;
    if (rest == "0")
        return false;
    return std::nullopt;
}

std::optional<PermStatus> parseProbeLine(const std::string& line) {
    std::vector<std::string> words = wordsBetweenSpaces(line);
    if (words.size() != 2)
        return std::nullopt;
    auto screen = probeFlag(words[0], "screen=");
    auto input = probeFlag(words[1], "input=");
    if (!screen || !input)
        return std::nullopt;
    return PermStatus{*screen, *input};
}

} // namespace

std::optional<PermStatus> parsePermProbe(const std::string& output) {
    std::vector<std::string> lines = nonEmptyLines(output);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (auto status = parseProbeLine(*line))
            return status;
    return std::nullopt;
}

PermRepairPlan permRepairPlan(const PermStatus& status, bool grantedBefore) {
    if (status.allOK())
        return {};
    return {status.missingServices(), true, grantedBefore};
}

std::string permSummary(const std::optional<PermStatus>& status, bool forgotten) {
    if (!status)
        return "Checking with Corvane Server\u2026";
    if (status->allOK())
        return "Everything is allowed.";
    std::string list;
    if (!status->screen)
        list = words(Words::screenMissing);
    if (!status->input)
        list += std::string(list.empty() ? "" : " and ") + words(Words::inputMissing);
    return fillWords(words(forgotten ? Words::permissionsForgotten : Words::switchOn), "list",
                     list);
}

} // namespace corvane::app
