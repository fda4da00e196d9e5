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
        {R"({"v":1,"type":"client-connecting","id":1,"address":"10.0.0.2","account":"bob","login":"password"})",
         true, 1},
        {R"({"v":1,"type":"client-connecting","id":2,"address":"10.0.0.3","account":"amy","login":"nla"})",
         true, 2},
        {R"({"v":1,"type":"client-connecting","id":2,"address":"x","account":"x","login":"x"})",
         false, 2},
        {R"({"v":1,"type":"client-ready","id":1,"mode":"control"})", true, 2},
        {R"({"v":1,"type":"stats","id":1,"codec":"h264","width":1920,"height":1080,"fps":29.5,"kbps":800,"rtt_ms":null,"waiting":1})",
         true, 2},
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
    EXPECT_EQ(bob->who.account, "bob");
    EXPECT_TRUE(bob->ready);
    EXPECT_TRUE(bob->viewOnly);
    ASSERT_TRUE(bob->stats.has_value());
    EXPECT_EQ(bob->stats->codec, "h264");
    EXPECT_DOUBLE_EQ(bob->stats->fps, 29.5);
    EXPECT_FALSE(bob->stats->roundTripMs.has_value());
}

// Prompts come in order, each once, and each goes with its prompt-closed (or
// its client's end); the answer goes back in the wire's words.
TEST(ControlSessions, PromptsOpenInOrderAndCloseWithTheirEvent) {
    ControlSessions m;
    const struct {
        const char* line;
        bool applied;
        std::vector<uint64_t> open;
    } steps[] = {
        {R"({"v":1,"type":"client-connecting","id":3,"address":"10.0.0.5","account":"alice","login":"password"})",
         true,
         {}},
        {R"({"v":1,"type":"prompt","id":3,"account":"alice","address":"10.0.0.5","login":"password","timeout_s":30,"on_timeout":"refuse"})",
         true,
         {3}},
        {R"({"v":1,"type":"prompt","id":8,"account":"bob","address":"10.0.0.6","login":"nla","timeout_s":12,"on_timeout":"allow"})",
         true,
         {3, 8}},
        {R"({"v":1,"type":"prompt","id":3,"account":"x","address":"x","login":"x","timeout_s":99,"on_timeout":"allow"})",
         false,
         {3, 8}},
        {R"({"v":2,"type":"prompt","id":9,"account":"c","address":"c","login":"nla","timeout_s":5,"on_timeout":"refuse"})",
         false,
         {3, 8}},
        {R"({"v":1,"type":"prompt","id":"10","account":"c","address":"c","login":"nla"})",
         false,
         {3, 8}},
        {R"({"v":1,"type":"prompt-closed","id":4,"answer":"allow","by":"host"})", false, {3, 8}},
        {R"({"v":1,"type":"prompt-closed","id":3,"answer":"view-only","by":"host"})", true, {8}},
        {R"({"v":1,"type":"prompt","id":11,"account":"dan","address":"10.0.0.7","login":"password"})",
         true,
         {8, 11}},
        {R"({"v":1,"type":"client-connecting","id":11,"address":"10.0.0.7","account":"dan","login":"password"})",
         true,
         {8, 11}},
        {R"({"v":1,"type":"client-left","id":11,"reason":"gone"})", true, {8}},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(m.apply(s.line), s.applied) << s.line;
        std::vector<uint64_t> open;
        for (const ControlPrompt& p : m.prompts())
            open.push_back(p.id);
        EXPECT_EQ(open, s.open) << s.line;
    }
    const ControlPrompt bob{8, "bob", "10.0.0.6", "nla", 12, PromptAnswer::allow};
    ASSERT_EQ(m.prompts().size(), 1u);
    EXPECT_EQ(m.prompts()[0], bob);
    m.clear();
    EXPECT_TRUE(m.empty());

    ASSERT_TRUE(m.apply(
        R"({"v":1,"type":"prompt","id":1,"account":"a","address":"b","login":"nla","timeout_s":-3,"on_timeout":"later"})"));
    EXPECT_EQ(m.prompts()[0].timeoutSeconds, 0) << "no countdown rather than a wrong one";
    EXPECT_EQ(m.prompts()[0].onTimeout, PromptAnswer::refuse);
    // Figures that do not fit their field (found by fuzzing: the float one
    // was an undefined conversion) count as missing.
    for (const char* timeout : {"1e300", "2.5", "4294967296", "-9223372036854775808"}) {
        m.clear();
        ASSERT_TRUE(
            m.apply(std::string(R"({"v":1,"type":"prompt","id":2,"timeout_s":)") + timeout + "}"))
            << timeout;
        EXPECT_EQ(m.prompts()[0].timeoutSeconds, 0) << timeout;
    }

    const std::pair<PromptAnswer, const char*> answers[] = {
        {PromptAnswer::allow, R"({"answer":"allow","id":7,"type":"answer","v":1})"},
        {PromptAnswer::viewOnly, R"({"answer":"view-only","id":7,"type":"answer","v":1})"},
        {PromptAnswer::refuse, R"({"answer":"refuse","id":7,"type":"answer","v":1})"}};
    for (auto [answer, line] : answers) {
        EXPECT_EQ(answerRequest(7, answer), line);
        EXPECT_EQ(promptAnswerFromName(promptAnswerName(answer)), answer);
    }
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
        const std::string id = std::to_string(round + 1);
        const std::string hello =
            "{\"v\":1,\"type\":\"client-connecting\",\"id\":" + id +
            ",\"address\":\"a\",\"account\":\"b\",\"login\":\"nla\"}\n"
            "{\"v\":1,\"type\":\"prompt\",\"id\":" +
            id +
            ",\"address\":\"a\",\"account\":\"b\",\"login\":\"nla\",\"timeout_s\":30,"
            "\"on_timeout\":\"refuse\"}\n";
        peer->write(hello.data(), static_cast<qint64>(hello.size()));
        ASSERT_TRUE(corvane::test::pumpUntil(
            [&] {
                return client.model().sessions().size() == 1 &&
                       client.model().prompts().size() == 1;
            },
            10));
        EXPECT_NE(client.model().find(static_cast<uint64_t>(round + 1)), nullptr)
            << "only the sessions of the server there now";
        ASSERT_TRUE(client.answer(static_cast<uint64_t>(round + 1), PromptAnswer::viewOnly));
        ASSERT_TRUE(corvane::test::pumpUntil(
            [&] {
                received += peer->readAll().toStdString();
                return received.find('\n') != std::string::npos;
            },
            10));
        EXPECT_EQ(received,
                  answerRequest(static_cast<uint64_t>(round + 1), PromptAnswer::viewOnly) + "\n");
        received.clear();
        peer->disconnectFromServer();
        server.close();
        ASSERT_TRUE(corvane::test::pumpUntil([&] { return client.model().empty(); }, 10))
            << "the sessions and prompts go with the server";
    }
    client.stop();
}
