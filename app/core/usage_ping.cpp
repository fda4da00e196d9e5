#include "app/core/usage_ping.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>
#include <thread>

#include "app/core/main_queue.h"
#include "app/core/net_info.h"
#include "app/core/settings.h"
#include "app/core/system_info.h"
#include "app/core/text_util.h"

namespace corvane::app {

std::shared_ptr<UsagePing> UsagePing::create(std::string machine, std::string appVersion) {
    return std::shared_ptr<UsagePing>(new UsagePing(std::move(machine), std::move(appVersion)));
}

UsagePing::UsagePing(std::string machine, std::string appVersion)
    : machine_(std::move(machine)), appVersion_(std::move(appVersion)),
      network_(std::make_unique<QNetworkAccessManager>()) {}

UsagePing::~UsagePing() = default;

bool UsagePing::tick(int clients) {
    if (clients >= 1)
        ++connectedMinutes_;
    ++minutesSinceSend_;
    return minutesSinceSend_ > sendEveryMinutes - 1;
}

UsagePing::Body UsagePing::body(bool active, const std::optional<ServerStats>& stats) const {
    Body body{
        {"machine", machine_},
        {"version", appVersion_},
        {"os", osVersionString()},
        {"active", active ? "1" : "0"},
        {"minutes", std::to_string(connectedMinutes_)},
    };
    if (stats) {
        ServerStats d = stats->since(reportedStats_);
        body["sessions"] = std::to_string(d.sessions);
        body["repaints"] = std::to_string(d.repaints);
        body["resizes"] = std::to_string(d.resizes);
        body["risk"] = std::to_string(d.riskEvents);
        body["stalls"] = std::to_string(d.stalls);
        body["clients"] = d.clients;
    }
    return body;
}

void UsagePing::acknowledge(int sentMinutes, const std::optional<ServerStats>& stats) {
    // Minutes counted while the request was in flight stay for the next report.
    connectedMinutes_ = std::max(0, connectedMinutes_ - sentMinutes);
    minutesSinceSend_ = 0;
    if (stats)
        reportedStats_ = stats;
}

void UsagePing::send(bool active, const std::string& serverBase,
                     const std::optional<ServerStats>& stats, SendDone done) {
    QUrl url(QString::fromStdString(serverBase + "/v1/ping"));
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return;
    QJsonObject object;
    for (const auto& [key, value] : body(active, stats))
        object.insert(QString::fromStdString(key), QString::fromStdString(value));
    QNetworkRequest request(url);
    request.setTransferTimeout(15000);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply* reply =
        network_->post(request, QJsonDocument(object).toJson(QJsonDocument::Compact));

    int sentMinutes = connectedMinutes_;
    std::weak_ptr<UsagePing> weak = weak_from_this();
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [reply, weak, sentMinutes, stats, done = std::move(done)] {
                         int status =
                             reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                         bool acknowledged = reply->error() == QNetworkReply::NoError &&
                                             status > 0 && status <= 299;
                         reply->deleteLater();
                         auto ping = weak.lock();
                         if (!ping)
                             return;
                         if (acknowledged)
                             ping->acknowledge(sentMinutes, stats);
                         if (done)
                             done(acknowledged);
                     });
}

void runUsageTick(const std::shared_ptr<UsagePing>& ping, const UserDefaults& defaults,
                  bool serverRunning, const std::string& statsPath, const std::string& serverBase,
                  std::function<void()> done) {
    if (!defaults.boolean(Key::usagePing)) {
        if (done)
            done();
        return;
    }
    int port = static_cast<int>(defaults.integer(Key::port));
    std::weak_ptr<UsagePing> weak = ping;
    std::thread([=, done = std::move(done)]() mutable {
        int clients = serverRunning ? NetInfo::connectedClients(port) : 0;
        postToMain([=, done = std::move(done)] {
            if (auto strong = weak.lock(); strong && strong->tick(clients)) {
                std::optional<ServerStats> stats;
                if (auto bytes = text::readFile(statsPath))
                    stats = ServerStats::fromJson(*bytes);
                strong->send(clients >= 1, serverBase, stats);
            }
            if (done)
                done();
        });
    }).detach();
}

} // namespace corvane::app
