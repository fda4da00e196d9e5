// Network checks against real sockets and a real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "app/core/net_info.h"
#include "http_server.h"
#include "support.h"

using namespace corvane::app;

namespace {

// A listening TCP socket on 127.0.0.1 with a port of its own.
class Listener {
  public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(fd_, 4), 0);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { close(); }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int port() const { return port_; }
    int accept() { return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }

  private:
    int fd_ = -1;
    int port_ = 0;
};

int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

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

} // namespace

TEST(CanConnect, AnswersForAListeningSocketOnly) {
    Listener listener;
    EXPECT_TRUE(NetInfo::canConnect("127.0.0.1", listener.port()));
    int closedPort = listener.port();
    listener.close();
    EXPECT_FALSE(NetInfo::canConnect("127.0.0.1", closedPort, 0.5));
    EXPECT_FALSE(NetInfo::canConnect("not-an-address", 3389, 0.5));
    EXPECT_FALSE(NetInfo::canConnect("127.0.0.1", 70000, 0.5));
}

TEST(ConnectedClients, CountsEstablishedInboundConnectionsOfThePort) {
    Listener listener;
    EXPECT_EQ(NetInfo::connectedClients(listener.port()), 0) << "a listening socket is no client";
    int clientA = connectTo(listener.port());
    int clientB = connectTo(listener.port());
    int serverA = listener.accept();
    int serverB = listener.accept();
    // Both ends of each connection are in the table, but only the accepted
    // side has the server's port as its local port.
    EXPECT_EQ(NetInfo::connectedClients(listener.port()), 2);
    ::close(clientA);
    ::close(serverA);
    EXPECT_EQ(NetInfo::connectedClients(listener.port()), 1);
    ::close(clientB);
    ::close(serverB);
}

TEST(PublicIP, AsksTheServiceAndValidatesTheAnswer) {
    corvane::test::HttpServer server;
    server.answer(200, " 203.0.113.7\n");
    EXPECT_EQ(publicIPFrom(server.baseUrl()), "203.0.113.7");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].method, "GET");
    EXPECT_EQ(server.requests()[0].path, "/v1/ip");

    server.answer(200, "<html>hello</html>");
    EXPECT_EQ(publicIPFrom(server.baseUrl()), std::nullopt);
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
