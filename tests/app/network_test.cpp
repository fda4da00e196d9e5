// Network checks against real sockets and a real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/core/net_info.h"
#include "http_server.h"
#include "support.h"

using namespace corvane::app;

namespace {

// Runs publicIP on a background thread while the main loop serves HTTP.
std::optional<std::string> publicIPFrom(const std::string& base) {
    std::optional<std::string> answer;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        answer = NetInfo::publicIP(base);
        done = true;
    });
    corvane::test::pumpUntil([&] { return done.load(); }, 15);
    worker.join();
    return answer;
}

// The kernel's table narrowed to our listener's own address, 127.0.0.1:
// tests running beside this one may hold the same port number on another
// loopback address (a relay bound to 127.0.0.3 takes any free port there),
// which the server's wildcard listener rules out in use.
int clientsOfOurListener(int port) {
    std::ifstream in("/proc/net/tcp");
    std::string line, ours;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local;
        if (fields >> slot >> local && local.rfind("0100007F:", 0) == 0)
            ours += line + "\n";
    }
    return NetInfo::countEstablishedInTable(ours, port);
}

} // namespace

// A connection is established in the kernel's table as soon as the handshake
// is done, accepted or not; the table holds both ends of each, but only the
// inbound side has the listening port as its local port.
TEST(ConnectedClients, CountsEstablishedInboundConnectionsOfThePort) {
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    const int port = listener.serverPort();
    EXPECT_EQ(clientsOfOurListener(port), 0) << "a listening socket is no client";
    QTcpSocket a, b;
    for (QTcpSocket* client : {&a, &b}) {
        client->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        ASSERT_TRUE(client->waitForConnected(5000));
    }
    EXPECT_EQ(clientsOfOurListener(port), 2);
    // The whole table (IPv4 and IPv6) holds ours and perhaps others'.
    EXPECT_GE(NetInfo::connectedClients(port), 2);
    a.abort();
    EXPECT_TRUE(corvane::test::pumpUntil([&] { return clientsOfOurListener(port) == 1; }, 5));

    EXPECT_TRUE(NetInfo::canConnect("127.0.0.1", port));
    listener.close();
    EXPECT_FALSE(NetInfo::canConnect("127.0.0.1", port, 0.5));
    EXPECT_FALSE(NetInfo::canConnect("not-an-address", 3389, 0.5));
    EXPECT_FALSE(NetInfo::canConnect("127.0.0.1", 70000, 0.5));
}

// (Which answers are addresses is report_test.cpp's.)
TEST(PublicIP, AsksTheServiceAndTakesOnlyASuccessfulAnswer) {
    corvane::test::HttpServer server;
    server.answer(200, " 203.0.113.7\n");
    EXPECT_EQ(publicIPFrom(server.baseUrl()), "203.0.113.7");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.requests()[0].path, "/v1/ip");

    server.answer(503, "203.0.113.7");
    EXPECT_EQ(publicIPFrom(server.baseUrl()), std::nullopt);
    EXPECT_EQ(publicIPFrom("::not a url"), std::nullopt);
}

TEST(PublicIP, SilentServiceGivesUpWithinTheLimit) {
    corvane::test::HttpServer server;
    server.setSilent(true);
    EXPECT_EQ(publicIPFrom(server.baseUrl()), std::nullopt);
    EXPECT_EQ(server.requests().size(), 1u);
}
