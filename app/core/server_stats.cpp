#include "app/core/server_stats.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <limits>

namespace corvane::app {

namespace {

// A JSON number truncated to an integer; anything else (a negative number,
// which no counter can be, or one beyond 64 bits) counts as 0, so that the
// growth between two readings cannot overflow.
int64_t counter(const QJsonObject& object, const char* key) {
    QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble())
        return 0;
    double number = std::trunc(value.toDouble());
    if (!std::isfinite(number) || number < 0 || number >= 9.2e18)
        return 0;
    return static_cast<int64_t>(number);
}

} // namespace

std::optional<ServerStats> ServerStats::fromJson(const std::string& bytes) {
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QJsonObject object = document.object();
    ServerStats stats;
    stats.sessions = counter(object, "sessions");
    stats.repaints = counter(object, "repaints");
    stats.resizes = counter(object, "resizes");
    stats.riskEvents = counter(object, "riskEvents");
    stats.stalls = counter(object, "stalls");
    QJsonValue clients = object.value(QLatin1String("clients"));
    stats.clients = clients.isString() ? clients.toString().toStdString() : std::string();
    return stats;
}

ServerStats ServerStats::since(const std::optional<ServerStats>& previous) const {
    if (!previous)
        return *this;
    const ServerStats& p = *previous;
    bool grew = sessions >= p.sessions && repaints >= p.repaints && resizes >= p.resizes &&
                riskEvents >= p.riskEvents && stalls >= p.stalls;
    if (!grew)
        return *this;
    return {sessions - p.sessions,     repaints - p.repaints, resizes - p.resizes,
            riskEvents - p.riskEvents, stalls - p.stalls,     clients};
}

} // namespace corvane::app
