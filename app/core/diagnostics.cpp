#include "app/core/diagnostics.h"

#include <QRegularExpression>
#include <QString>
#include <algorithm>
#include <charconv>

#include "app/core/nla_login.h"
#include "app/core/text_util.h"
#include "app/core/words.h"

namespace corvane::app::Diagnostics {

namespace {

std::string onOff(bool on) {
    return on ? "on" : "off";
}

// The scale as the shortest floating-point text that reads back the same:
// 0.75, 1.0, 0.333.
std::string floatingPoint(double value) {
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text = error == std::errc() ? std::string(buffer, end) : std::string("nan");
    if (text.find_first_of(".en") == std::string::npos)
        text += ".0";
    return text;
}

std::string serverLine(const ServerSettings& s, bool running) {
    return "Server: " + std::string(running ? "running" : "stopped") + ", port " +
           std::to_string(s.port) + ", scale " + floatingPoint(s.scale) + ", max " +
           std::to_string(s.fps) + " fps (adaptive: " + onOff(s.adaptiveFps) + ")";
}

std::string optionsLine(const ServerSettings& s) {
    return "Max pixels " + std::to_string(s.maxPixels) +
           ", encoder: " + (s.videoEncoder ? "hardware" : "software") + ", audio " +
           onOff(s.audio) + ", login required: " + (s.requireLogin ? "yes" : "no") +
           ", remote screen: " + remote_screen::rawValue(s.remoteScreen);
}

std::string loginLine(const ServerSettings& s) {
    auto user = NLALogin::user(s.nlaLogin);
    return "Windows login (NLA): " + (user ? "set, user '" + *user + "'" : "not set");
}

std::string addressesLine(const std::vector<Address>& addresses) {
    if (addresses.empty())
        return "Addresses: none";
    std::vector<std::string> parts;
    for (const Address& a : addresses)
        parts.push_back(a.ip + " (" + a.interface + ")");
    return "Addresses: " + text::join(parts, ", ");
}

} // namespace

std::string build(const std::string& appVersion, const std::string& osVersion,
                  const std::string& model, const ServerSettings& settings, bool running,
                  const std::vector<Permission>& permissions, const std::vector<Address>& addresses,
                  const std::string& log) {
    std::vector<std::string> lines{
        "Corvane " + appVersion,       std::string(words(Words::systemName)) + " " + osVersion + ", " + model,
        serverLine(settings, running), optionsLine(settings),
        loginLine(settings),
    };
    for (const auto& [name, granted] : permissions)
        lines.push_back("Permission " + name + ": " + (granted ? "granted" : "missing"));
    lines.push_back(addressesLine(addresses));
    lines.push_back("");
    lines.push_back("Last log lines:");
    lines.push_back(redact(tail(log, 80)));
    return text::join(lines, "\n");
}

std::string redact(const std::string& input) {
    static const QRegularExpression patterns[] = {
        QRegularExpression(QStringLiteral("[A-Za-z0-9_-]{20,}\\.[A-Za-z0-9_-]{20,}")),
        QRegularExpression(QStringLiteral("MAC_SHADOW_NLA=\\S+")),
        QRegularExpression(QStringLiteral("\\b[0-9a-fA-F]{32}\\b")),
    };
    QString text = QString::fromStdString(input);
    for (const QRegularExpression& pattern : patterns)
        text.replace(pattern, QStringLiteral("[removed]"));
    return text.toStdString();
}

std::string tail(const std::string& input, int maxLines) {
    std::vector<std::string> lines = text::split(input, '\n', true);
    size_t keep = static_cast<size_t>(std::max(maxLines, 0));
    if (lines.size() > keep)
        lines.erase(lines.begin(), lines.end() - static_cast<long>(keep));
    return text::join(lines, "\n");
}

} // namespace corvane::app::Diagnostics
