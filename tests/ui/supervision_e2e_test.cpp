// Supervision with the real server executable on a private Xvfb: the
// `corvane` executable starting and ending its server, and the delegate's
// restart schedule driven by a manual clock (only the server starts take
// real time). The schedule's later steps, kept by the keeper the delegate
// shares with `--server-only`, are checked with stand-in servers there.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <algorithm>
#include <filesystem>

#include "app/core/helper_perms.h"
#include "app/core/launch_plan.h"
#include "app/core/spawn.h"
#include "app/core/text_util.h"
#include "app/ui/app_delegate.h"
#include "e2e_harness.h"
#include "manual_clock.h"
#include "support.h"

using namespace corvane::app;
using namespace corvane::app::ui;
using namespace std::chrono_literals;
using corvane::test::pumpUntil;

namespace {

const std::string kServer = CORVANE_SERVER_EXECUTABLE;
const std::string kApp = CORVANE_APP_EXECUTABLE;

std::string settingsFile(int port, bool autoStart) {
    return "[General]\nport=" + std::to_string(port) +
           "\nautoStart=" + (autoStart ? "true" : "false") + "\nusagePing=false\n";
}

bool gone(pid_t pid) {
    return kill(pid, 0) != 0;
}

// `corvane` with its own Xvfb, settings that give it a free port, and the one
// server it started: what the tray's mode and the server-only mode share.
struct RunningApp {
    e2e::Slot slot{e2e::suites::supervision};
    e2e::Xvfb x{slot.display(0), "1024x768x24"};
    const int port = slot.port();
    e2e::TempDir dir;
    e2e::Process app;
    pid_t server = 0;

    void start(const std::vector<std::string>& args, bool autoStart, bool offscreen) {
        ASSERT_TRUE(x.ok());
        auto env = e2e::isolatedServerEnv(dir, x.name());
        env["XDG_STATE_HOME"] = dir.file("state");
        env["XDG_DATA_HOME"] = dir.file("data");
        if (offscreen)
            env["QT_QPA_PLATFORM"] = "offscreen";
        env["TALVEN_CLI"] = "";
        env["DBUS_SESSION_BUS_ADDRESS"] = "";
        std::filesystem::create_directories(dir.file("config"));
        ASSERT_TRUE(
            e2e::writeFile(dir.file("config/com.corvane.app.ini"), settingsFile(port, autoStart)));
        ASSERT_TRUE(app.start(args, env, dir.file("out"), dir.file("err")));
        ASSERT_TRUE(e2e::waitUntil([&] { return e2e::portOpen(port); }, 30000ms))
            << e2e::readFile(dir.file("err"));
        // One server, the one next to the application (spawn_test shows that
        // the logged arguments are the ones the child gets).
        const auto children = corvane::test::shell("pgrep -P " + std::to_string(app.pid()) +
                                                   " -f '^" + kServer + " '");
        ASSERT_TRUE(children);
        ASSERT_EQ(std::count(children->begin(), children->end(), '\n'), 1) << *children;
        server = std::atoi(children->c_str());
    }
    std::string startLine() const {
        ServerSettings settings;
        settings.port = port;
        return "[Corvane app] starting Corvane Server: " +
               text::join(buildLaunchPlan(settings, {}).arguments, " ") + "\n";
    }
    // SIGTERM ends the application cleanly, its server with it.
    void stop(const std::string& log) {
        app.signal(SIGTERM);
        EXPECT_EQ(app.waitExit(30000ms), std::optional<int>(0));
        EXPECT_TRUE(gone(server));
        EXPECT_FALSE(e2e::portOpen(port));
        EXPECT_TRUE(e2e::fileContains(log, "[Corvane app] Corvane Server stopped\n"));
    }
};

} // namespace

TEST(CorvaneApp, StartsItsServerFromItsSettingsAndEndsItOnSigterm) {
    RunningApp run;
    ASSERT_NO_FATAL_FAILURE(run.start({kApp}, true, true));
    const std::string logPath = run.dir.file("state/Corvane/Corvane.log");
    ASSERT_TRUE(
        e2e::waitUntil([&] { return e2e::fileContains(logPath, "Listening on"); }, 10000ms));
    EXPECT_TRUE(e2e::fileContains(logPath, "] [Corvane app] permission check: screen=1 input=1\n"));
    EXPECT_TRUE(e2e::fileContains(logPath, "] " + run.startLine()));
    run.stop(logPath);
}

// The systemd user unit's mode: the same plan from the settings, no menus,
// the server's output and the supervisor's lines on standard error.
TEST(CorvaneServerOnly, ServesTheSettingsPortAndStopsItsServerOnSigterm) {
    RunningApp run;
    ASSERT_NO_FATAL_FAILURE(run.start({kApp, "--server-only"}, false, false));
    const std::string err = run.dir.file("err");
    EXPECT_TRUE(e2e::fileContains(err, run.startLine()));
    EXPECT_TRUE(e2e::waitUntil([&] { return e2e::fileContains(err, "Listening on"); }, 10000ms))
        << "the server's output goes to the same stream";
    run.stop(err);
    EXPECT_EQ(e2e::readFile(run.dir.file("out")), "");
}

namespace {

class Supervision : public ::testing::Test {
  protected:
    e2e::Slot slot{e2e::suites::supervision};
    e2e::Xvfb x{slot.display(0), "1024x768x24"};
    corvane::test::TempDir dir;
    std::vector<std::unique_ptr<corvane::test::ScopedEnv>> env;
    corvane::test::ManualClock clock;
    std::shared_ptr<UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;

    void SetUp() override {
        ASSERT_TRUE(x.ok());
        const std::map<std::string, std::optional<std::string>> vars{
            {"HOME", dir.path()},
            {"XDG_RUNTIME_DIR", dir.path()},
            {"XDG_CONFIG_HOME", dir.file("config")},
            {"XDG_STATE_HOME", dir.file("state")},
            {"XDG_DATA_HOME", dir.file("data")},
            {"DISPLAY", x.name()},
            {"TALVEN_CLI", kServer},
            {"CORVANE_PLATFORM", std::nullopt},
            {"MAC_SHADOW_PERMS", std::nullopt},
            {"MAC_SHADOW_NLA", std::nullopt},
            {"MAC_SHADOW_STATS_FILE", std::nullopt}};
        for (const auto& [name, value] : vars)
            env.push_back(std::make_unique<corvane::test::ScopedEnv>(name, value));
        corvane::test::writeFile(dir.file("settings.ini"), settingsFile(slot.port(), false));
        defaults = std::make_shared<UserDefaults>(QString::fromStdString(dir.file("settings.ini")));
        registerSettingDefaults(*defaults);

        AppDelegate::Services services;
        services.defaults = defaults;
        services.helperPerms = HelperPerms::create(defaults, dir.file("no-install"));
        services.clock = &clock;
        services.showPresence = false;
        delegate = std::make_unique<AppDelegate>(services);
    }
    void TearDown() override {
        if (delegate)
            delegate->stopServer();
    }
    std::string log() { return corvane::test::readFile(dir.file("state/Corvane/Corvane.log")); }
    // Waits until a new server runs and has started (so it has its signal
    // handlers); its pid.
    pid_t awaitServer() {
        size_t seen = log().size();
        EXPECT_TRUE(pumpUntil(
            [&] {
                return delegate->running() && e2e::portOpen(slot.port()) &&
                       log().find("[mac_shadow_subsystem_start]", seen) != std::string::npos;
            },
            30));
        return delegate->task() ? delegate->task()->pid() : -1;
    }
    // Kills the server and waits for the delegate to see the end.
    void killServer(pid_t pid, int signal) {
        ASSERT_EQ(kill(pid, signal), 0);
        ASSERT_TRUE(pumpUntil([&] { return !delegate->task(); }, 30));
    }
};

} // namespace

TEST_F(Supervision, RestartsAfterGrowingDelaysUntilStopped) {
    delegate->startServer();
    delegate->startServer(); // while the check runs: still one server
    EXPECT_TRUE(delegate->starting());
    pid_t first = awaitServer();
    ASSERT_GT(first, 0);

    killServer(first, SIGKILL);
    EXPECT_EQ(delegate->lastError(), "Stopped unexpectedly (code 137)");
    EXPECT_EQ(clock.pending(), std::vector<double>{2.0});
    EXPECT_NE(log().find("] [Corvane app] Corvane Server ended (code 137)\n"), std::string::npos);
    EXPECT_NE(log().find("starting Corvane Server again in 2 s (1 unexpected end in a row)"),
              std::string::npos);
    clock.advance(1.9);
    EXPECT_FALSE(delegate->starting());
    clock.advance(0.1);
    pid_t second = awaitServer();
    EXPECT_NE(second, first);

    killServer(second, SIGKILL);
    EXPECT_EQ(clock.pending(), std::vector<double>{4.0});
    EXPECT_NE(log().find("again in 4 s (2 unexpected ends in a row)"), std::string::npos);

    delegate->stopServer(); // during the delay: cancelled
    EXPECT_FALSE(delegate->restartPending());
    clock.advance(60);
    EXPECT_FALSE(delegate->starting());
    EXPECT_FALSE(delegate->task());

    delegate->startServer();
    pid_t third = awaitServer();
    killServer(third, SIGTERM); // the server's clean end: no restart
    EXPECT_TRUE(clock.pending().empty());
    EXPECT_FALSE(delegate->lastError());
    EXPECT_NE(log().find("Corvane Server ended (code 0)"), std::string::npos);
    // The server's own output is in the same file.
    EXPECT_NE(log().find("[mac_shadow_on_terminate]"), std::string::npos);
}
