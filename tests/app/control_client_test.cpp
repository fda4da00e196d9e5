// The application's end of the control channel: the sessions model the
// server's events build, and the connection that follows the server.
#include <gtest/gtest.h>

#include <QLocalServer>
#include <QLocalSocket>

#include "app/core/control_client.h"
#include "support.h"

using namespace corvane::app;

TEST(ControlSessions, EventsBuildTheListAndStrayLinesChangeNothing) {
    ControlSessions m;
    const struct {
        const char* line;
        bool applied;
        size_t sessions;
    } steps[] = {
        {R"({"v":1,"type":"client-connecting","id":1,"address":"10.0.0.2","account":"bob","login":"password"})", true, 1},
        {R"({"v":1,"type":"client-connecting","id":2,"address":"10.0.0.3","account":"amy","login":"nla"})", true, 2},
        {R"({"v":1,"type":"client-connecting","id":2,"address":"x","account":"x","login":"x"})", false, 2},
        {R"({"v":1,"type":"client-ready","id":1,"mode":"control"})", true, 2},
        {R"({"v":1,"type":"stats","id":1,"codec":"h264","width":1920,"height":1080,"fps":29.5,"kbps":800,"rtt_ms":null,"waiting":1})", true, 2},
        {R"({"v":1,"type":"mode","id":1,"mode":"view"})", true, 2},
        {R"({"v":1,"type":"stats","id":9,"fps":1})", false, 2},
        {R"({"v":2,"type":"client-left","id":2,"reason":"x"})", false, 2},
        {R"({"v":1,"type":"ok","request":"set-mode","id":1})", false, 2},
        {R"({"v":1,"type":"client-left","id":2)", false, 2},
        {R"({"v":1,"type":"client-left","id":2,"reason":"the connection ended"})", true, 1},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(m.apply(s.line), s.applied) << s.line;
        EXPECT_EQ(m.sessions().size(), s.sessions) << s.line;
    }
    const ControlSession* bob = m.find(1);
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(bob->account, "bob");
    EXPECT_TRUE(bob->ready);
    EXPECT_TRUE(bob->viewOnly);
    ASSERT_TRUE(bob->stats.has_value());
    EXPECT_EQ(bob->stats->codec, "h264");
    EXPECT_DOUBLE_EQ(bob->stats->fps, 29.5);
    EXPECT_FALSE(bob->stats->roundTripMs.has_value());
}

// A server that goes and comes back (a restart): the client finds it again,
// with the list the new server tells, and its requests reach it.
TEST(ControlClient, FollowsARestartedServer) {
    corvane::test::ensureApplication();
    corvane::test::TempDir dir;
    const QString path = QString::fromStdString(dir.file("control"));
    ControlClient client;
    client.connectTo(path.toStdString()); // nobody listens yet: it keeps trying

    std::string received;
    for (int round = 0; round < 2; ++round) {
        QLocalServer server;
        ASSERT_TRUE(server.listen(path));
        ASSERT_TRUE(corvane::test::pumpUntil([&] { return server.hasPendingConnections(); }, 10));
        QLocalSocket* peer = server.nextPendingConnection();
        const std::string hello = "{\"v\":1,\"type\":\"client-connecting\",\"id\":" +
                                  std::to_string(round + 1) +
                                  ",\"address\":\"a\",\"account\":\"b\",\"login\":\"nla\"}\n";
        peer->write(hello.data(), static_cast<qint64>(hello.size()));
        ASSERT_TRUE(corvane::test::pumpUntil([&] { return client.model().sessions().size() == 1; }, 10));
        EXPECT_NE(client.model().find(static_cast<uint64_t>(round + 1)), nullptr)
            << "only the sessions of the server there now";
        ASSERT_TRUE(client.setMode(static_cast<uint64_t>(round + 1), true));
        ASSERT_TRUE(corvane::test::pumpUntil(
            [&] {
                received += peer->readAll().toStdString();
                return received.find('\n') != std::string::npos;
            },
            10));
        EXPECT_NE(received.find("\"type\":\"set-mode\""), std::string::npos) << received;
        received.clear();
        peer->disconnectFromServer();
        server.close();
        ASSERT_TRUE(corvane::test::pumpUntil([&] { return client.model().sessions().empty(); }, 10))
            << "the sessions go with the server";
    }
    client.stop();
}
