// `corvane --server-only`'s supervision with stand-in server scripts and a
// manual clock: the settings read at every start, the tray's restart
// schedule, the clean end, and the stop.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>

#include "app/core/launch_plan.h"
#include "app/ui/server_only.h"
#include "manual_clock.h"
#include "support.h"

using namespace corvane::app;
using namespace corvane::app::ui;
using corvane::test::pumpUntil;
using corvane::test::readFile;
using corvane::test::ScopedEnv;
using corvane::test::writeFile;

namespace {

class ServerOnlyTest : public ::testing::Test {
  protected:
    corvane::test::TempDir dir;
    corvane::test::ManualClock clock;
    ScopedEnv home{"HOME", dir.path()};
    ScopedEnv config{"XDG_CONFIG_HOME", dir.file("config")};
    ScopedEnv data{"XDG_DATA_HOME", dir.file("data")};
    std::shared_ptr<UserDefaults> defaults;
    std::vector<std::string> lines;
    std::optional<int> finished;
    std::unique_ptr<ServerOnly> supervisor;

    // A server that records its arguments as run N and ends with the status
    // the file "status.N" holds (1 when there is none).
    void SetUp() override {
        writeFile(dir.file("settings.ini"), "[General]\nport=4100\n");
        defaults = std::make_shared<UserDefaults>(QString::fromStdString(dir.file("settings.ini")));
        registerSettingDefaults(*defaults);
        writeFile(dir.file("server"),
                  "#!/bin/sh\ncd '" + dir.path() +
                      "'\nn=$(($(cat runs 2>/dev/null || echo 0) + 1)); echo $n > runs\n"
                      "printf '%s\\n' \"$@\" > args.$n\n"
                      "[ -f wait.$n ] && exec sleep 30\n"
                      "exit $(cat status.$n 2>/dev/null || echo 1)\n");
        ASSERT_EQ(::chmod(dir.file("server").c_str(), 0755), 0);
    }
    void start(const std::string& serverPath) {
        ServerOnly::Services services;
        services.defaults = defaults;
        services.loadLogin = [] { return std::nullopt; };
        services.serverPath = serverPath;
        services.clock = &clock;
        services.log = [this](const std::string& line) { lines.push_back(line); };
        services.finished = [this](int status) { finished = status; };
        supervisor = std::make_unique<ServerOnly>(std::move(services));
        supervisor->start();
    }
    int runs() { return std::atoi(readFile(dir.file("runs")).c_str()); }
    bool awaitEnd() {
        return pumpUntil([&] { return !supervisor->task(); }, 30);
    }
    bool logged(const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

std::string argumentLines(int port) {
    ServerSettings settings;
    settings.port = port;
    std::string text;
    for (const auto& argument : buildLaunchPlan(settings, {}).arguments)
        text += argument + "\n";
    return text;
}

} // namespace

TEST_F(ServerOnlyTest, RestartsOnTheTraysScheduleWithFreshSettingsUntilACleanEnd) {
    writeFile(dir.file("status.4"), "0\n");
    start(dir.file("server"));
    ASSERT_TRUE(awaitEnd());
    EXPECT_EQ(readFile(dir.file("args.1")), argumentLines(4100));
    EXPECT_TRUE(logged("Corvane Server ended (code 1)"));
    EXPECT_TRUE(logged("starting Corvane Server again in 2 s (1 unexpected end in a row)"));
    EXPECT_EQ(clock.pending(), std::vector<double>{2.0});

    defaults->set("port", 4200); // read again at the next start
    defaults->sync();
    clock.advance(1.9);
    EXPECT_EQ(runs(), 1);
    clock.advance(0.1);
    ASSERT_TRUE(awaitEnd());
    EXPECT_EQ(runs(), 2);
    EXPECT_EQ(readFile(dir.file("args.2")), argumentLines(4200));
    EXPECT_EQ(clock.pending(), std::vector<double>{4.0});

    clock.advance(4);
    ASSERT_TRUE(awaitEnd());
    EXPECT_EQ(clock.pending(), std::vector<double>{8.0});
    clock.advance(8);
    ASSERT_TRUE(awaitEnd());
    EXPECT_EQ(runs(), 4);
    EXPECT_TRUE(logged("Corvane Server ended (code 0)"));
    EXPECT_TRUE(clock.pending().empty());
    EXPECT_EQ(finished, std::optional<int>(0));
}

// With "Ask me" stored, a server without the tray refuses every client: the
// run says so at each start; "Let it in" (a file from before asking) does not.
TEST_F(ServerOnlyTest, AskingWithNobodyToAnswerIsLoggedAtStart) {
    for (const char* policy : {"", "allow", "ask", "ask-unless-away"}) {
        SCOPED_TRACE(policy);
        lines.clear();
        if (*policy)
            defaults->set("whenClientConnects", policy);
        start(dir.file("server"));
        ASSERT_TRUE(awaitEnd());
        const bool warned = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("nobody is asked: clients are refused") != std::string::npos;
        });
        EXPECT_EQ(warned, std::string(policy).rfind("ask", 0) == 0);
        supervisor.reset();
    }
}

// A long run starts the count afresh; a stop ends the running server, and
// no restart follows.
TEST_F(ServerOnlyTest, ALongRunStartsTheCountAfreshAndAStopEndsTheServer) {
    writeFile(dir.file("wait.2"), "");
    writeFile(dir.file("wait.3"), "");
    start(dir.file("server"));
    ASSERT_TRUE(awaitEnd());
    clock.advance(2);
    ASSERT_TRUE(pumpUntil([&] { return runs() == 2; }, 30));
    clock.advance(400);
    ASSERT_EQ(::kill(supervisor->task()->pid(), SIGKILL), 0);
    ASSERT_TRUE(awaitEnd());
    EXPECT_EQ(supervisor->unexpectedEnds(), 1);
    EXPECT_EQ(clock.pending(), std::vector<double>{2.0});

    clock.advance(2);
    ASSERT_TRUE(pumpUntil([&] { return runs() == 3; }, 30));
    const pid_t server = supervisor->task()->pid();
    supervisor->stop();
    EXPECT_NE(::kill(server, 0), 0) << "the server has ended and been reaped";
    EXPECT_TRUE(logged("Corvane Server stopped"));
    EXPECT_FALSE(supervisor->restartPending());
    clock.advance(60);
    EXPECT_EQ(runs(), 3);
    EXPECT_EQ(finished, std::nullopt) << "a stop is the caller's end, not the server's";
}

TEST_F(ServerOnlyTest, AMissingServerEndsTheRunWithStatusOne) {
    start(dir.file("nowhere/freerdp-shadow-cli"));
    EXPECT_EQ(finished, std::optional<int>(1));
    EXPECT_TRUE(logged("Corvane Server not found at " + dir.file("nowhere/freerdp-shadow-cli") +
                       ". Reinstall Corvane."));
    EXPECT_FALSE(supervisor->task());
    EXPECT_TRUE(clock.pending().empty());
}
