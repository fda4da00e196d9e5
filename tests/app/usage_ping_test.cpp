// The statistics reader and the usage ping, the latter against a real HTTP
// server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "app/core/settings.h"
#include "app/core/usage_ping.h"
#include "http_server.h"
#include "support.h"

using namespace corvane::app;
using corvane::test::HttpServer;
using corvane::test::pumpUntil;

TEST(ServerStatsReader, ReadsCountersOfAnObjectAndGrowthSinceTheLastReport) {
    auto stats = ServerStats::fromJson(
        R"({"sessions":3,"repaints":10.9,"resizes":"7","riskEvents":1,"stalls":-4,"clients":"a,b"})");
    ASSERT_TRUE(stats);
    EXPECT_EQ(*stats, (ServerStats{3, 10, 0, 1, 0, "a,b"}));
    EXPECT_EQ(ServerStats::fromJson(R"({"clients":5})")->clients, "");
    for (const char* text : {"[1,2]", "not json", ""})
        EXPECT_EQ(ServerStats::fromJson(text), std::nullopt) << text;

    ServerStats now{5, 20, 3, 2, 1, "c"};
    EXPECT_EQ(now.since(std::nullopt), now);
    EXPECT_EQ(now.since(ServerStats{2, 10, 3, 0, 0, "old"}), (ServerStats{3, 10, 0, 2, 1, "c"}));
    EXPECT_EQ(now.since(ServerStats{6, 1, 1, 1, 1, ""}), now) << "sessions went down: a restart";
    EXPECT_EQ(now.since(ServerStats{9, 99, 9, 9, 9, ""}), now);
}

// A report is due every fifth tick until one is acknowledged; the body has
// the base keys and the statistics under the service's names.
TEST(UsagePingTicks, FifthTickIsDueAndTheBodyCountsConnectedMinutes) {
    corvane::test::ensureApplication();
    auto ping = UsagePing::create("machine-1", "2.0");
    for (int clients : {0, 1, 2, 0})
        EXPECT_FALSE(ping->tick(clients));
    EXPECT_TRUE(ping->tick(1));
    EXPECT_EQ(ping->connectedMinutes(), 3);
    EXPECT_TRUE(ping->tick(0)) << "still due until a send is acknowledged";
    auto base = ping->body(true, std::nullopt);
    EXPECT_EQ(base.size(), 5u);
    EXPECT_EQ(base["machine"], "machine-1");
    EXPECT_EQ(base["version"], "2.0");
    EXPECT_FALSE(base["os"].empty());
    EXPECT_EQ(base["active"], "1");
    EXPECT_EQ(base["minutes"], "3");
    auto full = ping->body(false, ServerStats{1, 2, 3, 4, 5, "x"});
    EXPECT_EQ(full["active"], "0");
    EXPECT_EQ(full["risk"], "4");
    EXPECT_EQ(full.count("riskEvents"), 0u);
    EXPECT_EQ(full["stalls"], "5");
    EXPECT_EQ(full["clients"], "x");
}

namespace {

QJsonObject jsonBody(const corvane::test::HttpRequest& request) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
}

// Sends and runs the main loop until the answer has been handled.
bool sendAndWait(UsagePing& ping, const std::string& base, std::optional<ServerStats> stats) {
    bool finished = false, acknowledged = false;
    ping.send(true, base, stats, [&](bool ok) {
        finished = true;
        acknowledged = ok;
    });
    EXPECT_TRUE(pumpUntil([&] { return finished; }, 20));
    return acknowledged;
}

} // namespace

TEST(UsagePingSend, RefusedReportKeepsTheMinutesAndAcknowledgedOneSubtractsThem) {
    HttpServer server;
    auto ping = UsagePing::create("machine-1", "2.0");
    for (int i = 0; i < 5; ++i)
        ping->tick(1);

    server.answer(500);
    EXPECT_FALSE(sendAndWait(*ping, server.baseUrl(), ServerStats{4, 4, 4, 4, 4, ""}));
    EXPECT_EQ(ping->connectedMinutes(), 5);
    EXPECT_EQ(ping->minutesSinceSend(), 5);
    EXPECT_EQ(ping->reportedStats(), std::nullopt);

    ASSERT_EQ(server.requests().size(), 1u);
    const auto& request = server.requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/v1/ping");
    EXPECT_EQ(request.contentType, "application/json");
    EXPECT_EQ(jsonBody(request).value("minutes").toString(), "5");
    EXPECT_EQ(jsonBody(request).value("sessions").toString(), "4");

    ping->tick(1);
    server.answer(204);
    ServerStats stats{6, 6, 6, 6, 6, "c"};
    EXPECT_TRUE(sendAndWait(*ping, server.baseUrl(), stats));
    EXPECT_EQ(jsonBody(server.requests()[1]).value("minutes").toString(), "6");
    EXPECT_EQ(ping->connectedMinutes(), 0);
    EXPECT_EQ(ping->minutesSinceSend(), 0);
    EXPECT_EQ(ping->reportedStats(), stats);

    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(ping->tick(0));
    EXPECT_TRUE(ping->tick(0)) << "the next report is due five ticks after an acknowledged one";
    server.answer(200);
    EXPECT_TRUE(sendAndWait(*ping, server.baseUrl(), ServerStats{7, 6, 6, 6, 6, "c"}));
    EXPECT_EQ(jsonBody(server.requests()[2]).value("sessions").toString(), "1");
}

TEST(UsagePingSend, MinutesCountedWhileInFlightStay) {
    HttpServer server;
    auto ping = UsagePing::create("m", "1");
    ping->tick(1);
    ping->tick(1);
    bool finished = false;
    ping->send(true, server.baseUrl(), std::nullopt, [&](bool) { finished = true; });
    ping->tick(1);
    ASSERT_TRUE(pumpUntil([&] { return finished; }, 20));
    EXPECT_EQ(ping->connectedMinutes(), 1);
    EXPECT_EQ(ping->minutesSinceSend(), 0);
}

TEST(UsagePingSend, InvalidAddressSendsNothing) {
    auto ping = UsagePing::create("m", "1");
    bool called = false;
    ping->send(true, "not a url", std::nullopt, [&](bool) { called = true; });
    EXPECT_FALSE(pumpUntil([&] { return called; }, 0.2));
}

TEST(UsageTick, OffSendsNothingAndOnReportsTheStatisticsFile) {
    HttpServer server;
    corvane::test::TempDir dir;
    UserDefaults defaults(QString::fromStdString(dir.file("settings.ini")));
    registerSettingDefaults(defaults);
    std::string statsFile = dir.file("server-stats.json");
    corvane::test::writeFile(statsFile, R"({"sessions":2,"stalls":1,"clients":"10.0.0.9"})");
    auto ping = UsagePing::create("m", "1");

    auto runTick = [&] {
        bool handled = false;
        runUsageTick(ping, defaults, false, statsFile, server.baseUrl(), [&] { handled = true; });
        EXPECT_TRUE(pumpUntil([&] { return handled; }, 10));
    };
    defaults.set(Key::usagePing, false);
    for (int i = 0; i < 6; ++i)
        runTick();
    EXPECT_EQ(ping->minutesSinceSend(), 0) << "usage pings off: ticks do nothing";

    defaults.set(Key::usagePing, true);
    for (int i = 0; i < 5; ++i)
        runTick();
    ASSERT_TRUE(pumpUntil([&] { return server.requests().size() == 1; }, 20));
    QJsonObject body = jsonBody(server.requests()[0]);
    EXPECT_EQ(body.value("active").toString(), "0");
    EXPECT_EQ(body.value("sessions").toString(), "2");
    EXPECT_EQ(body.value("clients").toString(), "10.0.0.9");
    EXPECT_TRUE(pumpUntil([&] { return ping->minutesSinceSend() == 0; }, 20));
}
