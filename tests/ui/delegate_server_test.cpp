// The delegate's menu commands and its paths that start and stop the server,
// with a stand-in server: a script that answers the permission probe from a
// file and otherwise runs until SIGTERM, noting its arguments; and the login
// item.
#include <gtest/gtest.h>

#include "qt_print.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPushButton>
#include <QTableWidget>
#include <algorithm>
#include <filesystem>
#include <optional>

#include "alert_recorder.h"
#include "app/core/helper_perms.h"
#include "app/core/spawn.h"
#include "app/ui/app_delegate.h"
#include "app/ui/connect_prompt.h"
#include "app/ui/login_item.h"
#include "app/ui/login_store.h"
#include "app/ui/permissions_window.h"
#include "app/ui/sessions_window.h"
#include "app/ui/settings_window.h"
#include "app/ui/tray_menu.h"
#include "manual_clock.h"
#include "platform/platform.h"
#include "support.h"

using namespace corvane::app;
using namespace corvane::app::ui;
using corvane::test::pumpUntil;

namespace {

// The secret store stays out of these tests.
class NoLogins : public LoginStore {
  public:
    std::optional<std::string> load() override { return std::nullopt; }
    bool save(const std::string&, const std::string&) override { return false; }
    bool rename(const std::string&) override { return false; }
    void clear() override {}
};

class NoticeRecorder : public Notifier {
  public:
    void notify(const std::string& text) override { notices.push_back(text); }
    std::vector<std::string> notices;
};

class DelegateServer : public corvane::test::AppTest {
  protected:
    const std::string server = dir.file("server");
    corvane::test::ScopedEnv cli{"TALVEN_CLI", server};
    corvane::test::ScopedEnv platformName{"CORVANE_PLATFORM", "sim"};
    corvane::test::ScopedEnv privacyDb{"CORVANE_SIM_PRIVACY_DB", dir.file("privacy.db")};
    corvane::test::ManualClock clock;
    NoLogins logins;
    corvane::test::AlertRecorder alerts;
    std::shared_ptr<NoticeRecorder> notices = std::make_shared<NoticeRecorder>();
    std::vector<Address> addresses;
    std::unique_ptr<AppDelegate> delegate;

    void SetUp() override {
        corvane::platform::replaceCurrent(corvane::platform::create("sim"));
        corvane::test::writeFile(server, "#!/bin/sh\n"
                                         "[ -n \"$MAC_SHADOW_PERMS\" ] && exec cat \"$0.perms\"\n"
                                         "echo \"$*\" >> \"$0.args\"\n"
                                         "exec sleep 300\n");
        std::filesystem::permissions(server, std::filesystem::perms::owner_all);
        answer("screen=1 input=1");
        registerSettingDefaults(*defaults);
        make();
    }
    void TearDown() override {
        if (delegate)
            delegate->stopServer();
    }
    // A new delegate (and permission manager, which reads TALVEN_CLI).
    void make() {
        if (delegate)
            delegate->stopServer();
        AppDelegate::Services services;
        services.defaults = defaults;
        services.helperPerms = HelperPerms::create(defaults, dir.file("no-install"));
        services.clock = &clock;
        services.logins = &logins;
        services.showPresence = false;
        services.notifier = notices;
        services.localAddresses = [this] { return addresses; };
        delegate = std::make_unique<AppDelegate>(services);
        delegate->buildMenu();
    }
    void answer(const std::string& line) { corvane::test::writeFile(server + ".perms", line); }
    void start() {
        const int before = starts();
        delegate->startServer();
        ASSERT_TRUE(pumpUntil([&] { return delegate->running(); }, 10));
        ASSERT_TRUE(startedOnce(before));
    }
    // The stand-in server writes its arguments once it runs, a moment after
    // it was spawned.
    bool startedOnce(int before) {
        return pumpUntil([&] { return starts() == before + 1; }, 10);
    }
    int starts() {
        std::string args = corvane::test::readFile(server + ".args");
        return static_cast<int>(std::count(args.begin(), args.end(), '\n'));
    }
    // Waits for the permissions window's first answer.
    void windowAnswered() {
        ASSERT_TRUE(pumpUntil([&] { return delegate->permissions()->status().has_value(); }, 10));
    }
    PermissionsWindow& window() { return *delegate->permissions()->window(); }
    // A fresh delegate, its server started when `running`; that server (or
    // none).
    std::shared_ptr<SpawnedProcess> makeWithServer(bool running) {
        make();
        if (running)
            start();
        return delegate->task();
    }
    std::string statusLine() { return delegate->menu()->statusLine()->text().toStdString(); }
    // Starts the server with the control channel played by a local socket of
    // the test's: the application's end of it, or null when it never came.
    QLocalSocket* startWithChannel() {
        const std::string path = dir.file("control");
        control.emplace("MAC_SHADOW_CONTROL", path);
        if (!channel.listen(QString::fromStdString(path)))
            return nullptr;
        start();
        if (!pumpUntil([&] { return channel.hasPendingConnections(); }, 10))
            return nullptr;
        return channel.nextPendingConnection();
    }
    // What the application sent over the channel once `lines` lines came.
    std::string received(QLocalSocket* peer, long lines) {
        std::string text;
        EXPECT_TRUE(pumpUntil(
            [&] {
                text += peer->readAll().toStdString();
                return std::count(text.begin(), text.end(), '\n') == lines;
            },
            10))
            << text;
        return text;
    }
    std::optional<corvane::test::ScopedEnv> control;
    QLocalServer channel;
};

} // namespace

// Repairing the permissions and saving the settings restart a running
// server (the saved port with it) and start none that was stopped.
TEST_F(DelegateServer, RepairAndSaveRestartOnlyARunningServer) {
    for (bool repair : {true, false})
        for (bool wasRunning : {false, true}) {
            SCOPED_TRACE(std::string(repair ? "repair, " : "save, ") +
                         (wasRunning ? "running" : "stopped"));
            std::shared_ptr<SpawnedProcess> before = makeWithServer(wasRunning);
            const int startsBefore = starts();
            if (repair) {
                delegate->repairPermissions();
                windowAnswered();
            } else {
                delegate->openSettings();
                delegate->settingsWindow()->portField->setText(wasRunning ? "3391" : "3392");
                delegate->settingsWindow()->saveButton->click();
                EXPECT_EQ(defaults->integer(Key::port), wasRunning ? 3391 : 3392);
            }
            if (wasRunning) {
                ASSERT_TRUE(
                    pumpUntil([&] { return delegate->running() && !before->isRunning(); }, 10));
                EXPECT_NE(delegate->task(), before);
                EXPECT_TRUE(startedOnce(startsBefore)) << starts();
                if (!repair) {
                    EXPECT_NE(corvane::test::readFile(server + ".args").rfind("/port:3391"),
                              std::string::npos);
                }
            } else {
                EXPECT_FALSE(delegate->running() || delegate->starting());
                EXPECT_EQ(starts(), startsBefore);
            }
            if (repair) {
                EXPECT_EQ(delegate->permissions()->isVisible(), !wasRunning)
                    << "everything allowed: a running server goes on";
            } else {
                EXPECT_TRUE(alerts.alerts.empty());
            }
        }
}

TEST_F(DelegateServer, CheckPermissionsStartsOnlyWhenAskedAndLeavesARunningServerAlone) {
    delegate->checkPermissions();
    windowAnswered();
    EXPECT_TRUE(delegate->permissions()->isVisible());
    EXPECT_EQ(window().summary->text(), "Everything is allowed.");
    EXPECT_FALSE(delegate->running() || delegate->starting());
    window().startButton->click();
    ASSERT_TRUE(pumpUntil([&] { return delegate->running(); }, 10));
    ASSERT_TRUE(startedOnce(0));
    EXPECT_FALSE(delegate->permissions()->isVisible());

    auto running = delegate->task();
    delegate->checkPermissions();
    EXPECT_TRUE(delegate->permissions()->isVisible());
    window().startButton->click();
    EXPECT_EQ(delegate->task(), running);
    EXPECT_TRUE(running->isRunning());
    EXPECT_EQ(starts(), 1);
}

TEST_F(DelegateServer, StartUpShowsThePermissionsWindowOnlyWhenSomethingIsMissing) {
    struct Case {
        bool autoStart;
        const char* answer;
        bool window, runs;
    };
    for (const Case& c : {Case{false, "screen=0 input=1", true, false},
                          Case{false, "screen=1 input=1", false, false},
                          Case{true, "screen=1 input=1", false, true}}) {
        SCOPED_TRACE(std::string(c.answer) + (c.autoStart ? " autostart" : ""));
        make();
        answer(c.answer);
        defaults->set(Key::autoStart, c.autoStart);
        const size_t checksBefore = log().size();
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(pumpUntil(
            [&] {
                return log().find("permission check:", checksBefore) != std::string::npos &&
                       !delegate->starting() && !delegate->permissions()->busy();
            },
            10));
        EXPECT_EQ(delegate->permissions()->isVisible(), c.window);
        EXPECT_EQ(delegate->running(), c.runs);
        if (!c.window)
            continue;
        // Allowed meanwhile: the window's Start Server starts it.
        answer("screen=1 input=1");
        clock.advance(PermissionsController::kWatchSeconds);
        ASSERT_TRUE(pumpUntil([&] { return window().startButton->isEnabled(); }, 10));
        EXPECT_FALSE(delegate->running());
        window().startButton->click();
        EXPECT_TRUE(pumpUntil([&] { return delegate->running(); }, 10));
    }
}

TEST_F(DelegateServer, StartingWithoutAnAnsweringServerSaysWhy) {
    struct Case {
        bool present;
        const char* output;
        const char* status;
    };
    for (const Case& c :
         {Case{true, "no permission line\n",
               "Corvane Server did not answer the permission check. See Show Log."},
          Case{false, "", "Corvane Server was not found next to Corvane. Reinstall Corvane."}}) {
        SCOPED_TRACE(c.status);
        if (!c.present)
            std::filesystem::remove(server);
        answer(c.output);
        make();
        delegate->startServer();
        ASSERT_TRUE(pumpUntil([&] { return !delegate->starting(); }, 10));
        EXPECT_EQ(statusLine(), c.status);
        EXPECT_FALSE(delegate->running());
    }
}

// The server's channel (a stand-in socket) tells of a client: the menu shows
// it and its coming is announced; "Sessions…" lists it, its buttons reach the
// server and the server's refusal comes back to the window; the server's
// stop ends it all, announced as the client's leaving. (The status lines and
// notices for each step of the sessions are checked in
// tray_menu_test.cpp, the window's rows in client_windows_test.cpp.)
TEST_F(DelegateServer, AClientOnTheChannelShowsInTheMenuAndSessionsUntilTheStop) {
    QLocalSocket* peer = startWithChannel();
    ASSERT_NE(peer, nullptr);
    delegate->openSessions();
    SessionsWindow& w = *delegate->sessionsWindow();
    EXPECT_TRUE(w.isVisible());
    peer->write(
        R"({"v":1,"type":"client-connecting","id":5,"address":"192.0.2.7","account":"alice","login":"password"})"
        "\n"
        R"({"v":1,"type":"client-ready","id":5,"mode":"control"})"
        "\n");
    ASSERT_TRUE(
        pumpUntil([&] { return w.table->rowCount() == 1 && !notices->notices.empty(); }, 10));
    EXPECT_EQ(statusLine(), "alice from 192.0.2.7 connected");
    EXPECT_TRUE(delegate->menuState().clients);
    w.table->selectRow(0);
    w.modeButton->click();
    w.disconnectButton->click();
    const std::string sent = received(peer, 2);
    for (const char* request : {R"({"id":5,"mode":"view","type":"set-mode","v":1})",
                                R"({"id":5,"type":"disconnect","v":1})"})
        EXPECT_NE(sent.find(request), std::string::npos) << sent;
    peer->write(R"({"v":1,"type":"error","request":"disconnect","message":"no such client"})"
                "\n");
    ASSERT_TRUE(pumpUntil([&] { return w.note->text() == "no such client"; }, 10));
    delegate->stopServer();
    EXPECT_EQ(statusLine(), "Stopped");
    EXPECT_FALSE(delegate->menuState().clients);
    EXPECT_EQ(w.table->rowCount(), 0);
    EXPECT_EQ(notices->notices, (std::vector<std::string>{
                                    "alice from 192.0.2.7 is connected to this computer's desktop.",
                                    "alice from 192.0.2.7 left this computer's desktop."}));
}

// A held client's prompt: announced, shown, answered over the channel, and
// closed by the server's prompt-closed.
TEST_F(DelegateServer, APromptIsAnnouncedShownAnsweredAndClosedByTheServer) {
    QLocalSocket* peer = startWithChannel();
    ASSERT_NE(peer, nullptr);
    peer->write(
        R"({"v":1,"type":"client-connecting","id":5,"address":"192.0.2.7","account":"alice","login":"password"})"
        "\n"
        R"({"v":1,"type":"prompt","id":5,"account":"alice","address":"192.0.2.7","login":"password","timeout_s":30,"on_timeout":"refuse"})"
        "\n");
    ASSERT_TRUE(pumpUntil([&] { return delegate->prompts().shown() != nullptr; }, 10));
    ConnectPrompt* window = delegate->prompts().shown();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(notices->notices,
              std::vector<std::string>{
                  "alice from 192.0.2.7 asks to connect to this computer's desktop."});
    EXPECT_EQ(statusLine(), "alice from 192.0.2.7 connected") << "held, but there";
    EXPECT_TRUE(delegate->menuState().clients) << "the badge while it waits";

    window->viewOnlyButton->click();
    EXPECT_EQ(received(peer, 1), R"({"answer":"view-only","id":5,"type":"answer","v":1})"
                                 "\n");
    EXPECT_TRUE(window->isVisible()) << "until the server says the prompt is over";
    peer->write(R"({"v":1,"type":"prompt-closed","id":5,"answer":"view-only","by":"host"})"
                "\n");
    EXPECT_TRUE(pumpUntil([&] { return delegate->prompts().shown() == nullptr; }, 10));
    EXPECT_NE(log().find("alice from 192.0.2.7 asks to connect"), std::string::npos);
}

// Menu commands that need no server: Test Connection with "Copy Address",
// Copy Diagnostics with its four-second status line, and the login item.
TEST_F(DelegateServer, TestConnectionShowsTheReportAndCopiesTheFirstAddress) {
    defaults->set("port", 3390);
    addresses = {{"eth0", "192.168.1.20"}, {"wlan0", "10.0.0.7"}};
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    corvane::test::AlertRecorder answers(1); // "Copy Address"
    delegate->testConnection();
    ASSERT_TRUE(corvane::test::pumpUntil([&] { return !answers.alerts.empty(); }, 10));
    const Alert& alert = answers.alerts[0];
    EXPECT_EQ(alert.message, "Test Connection");
    EXPECT_EQ(alert.informative.toStdString(), NetInfo::report(3390, false, {}, false, {}, false));
    EXPECT_EQ(alert.buttons, QStringList({"OK", "Copy Address"}));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "192.168.1.20:3390");
}

TEST_F(DelegateServer, CopyDiagnosticsShowsItsStatusLineForFourSeconds) {
    answer("no permission line\n");
    std::filesystem::create_directories(dir.file("state/Corvane"));
    corvane::test::writeFile(dir.file("state/Corvane/Corvane.log"),
                             "env MAC_SHADOW_NLA=anna:0123456789abcdef0123456789abcdef x\n");
    const QString copied = QStringLiteral("Diagnostics copied. Paste them into your email.");
    delegate->copyDiagnostics();
    ASSERT_TRUE(corvane::test::pumpUntil(
        [&] { return delegate->menu()->statusLine()->text() == copied; }, 10));
    std::string report = QGuiApplication::clipboard()->text().toStdString();
    EXPECT_NE(report.find("Permission check (Corvane Server did not answer): missing"),
              std::string::npos);
    EXPECT_NE(report.find("Addresses: none"), std::string::npos);
    EXPECT_EQ(report.find("0123456789abcdef0123456789abcdef"), std::string::npos);

    clock.advance(3.9);
    EXPECT_EQ(delegate->menu()->statusLine()->text(), copied);
    clock.advance(0.1);
    EXPECT_EQ(delegate->menu()->statusLine()->text(), "Stopped");
}

TEST(LoginItem, AutostartEntryRunsThisProgramAndCanBeRemoved) {
    corvane::test::TempDir dir;
    AutostartEntry entry(dir.file("autostart/corvane.desktop"), "/opt/my apps/cor\"vane$1%");
    std::string error;
    EXPECT_FALSE(entry.enabled());
    ASSERT_TRUE(entry.setEnabled(true, error)) << error;
    EXPECT_TRUE(entry.enabled());
    std::string text = corvane::test::readFile(entry.path());
    EXPECT_NE(text.find("[Desktop Entry]\nType=Application\n"), std::string::npos);
    // Quoted for the Exec rules, then escaped as a string: \" becomes \\".
    EXPECT_NE(text.find("\nExec=\"/opt/my apps/cor\\\\\"vane\\\\$1%%\"\n"), std::string::npos)
        << text;
    corvane::test::writeFile(entry.path(), text + "Hidden=true\n");
    EXPECT_FALSE(entry.enabled()) << "switched off in the desktop's settings";
    ASSERT_TRUE(entry.setEnabled(false, error));
    EXPECT_FALSE(std::filesystem::exists(entry.path()));
    EXPECT_TRUE(entry.setEnabled(false, error)) << "already off";
}
