// The tray menu: its entries, and what it shows in each server state; what
// the person at the desktop is shown while clients come and go (the status
// line, the notices, and the badge on the tray symbol); the restart schedule
// behind the "Stopped unexpectedly" state.
#include <gtest/gtest.h>

#include "qt_print.h"

#include <QImage>
#include <QTest>

#include "app/core/control_client.h"
#include "app/ui/client_presence.h"
#include "app/ui/supervision.h"
#include "app/ui/tray_icon.h"
#include "app/ui/tray_menu.h"

using namespace corvane::app;
using namespace corvane::app::ui;

namespace {

QStringList entryTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
    return texts;
}

} // namespace

TEST(TrayMenu, EntriesInOrderWithKeysAndTargets) {
    int quits = 0, settings = 0;
    MenuHandlers handlers;
    handlers.quit = [&] { ++quits; };
    handlers.openSettings = [&] { ++settings; };
    TrayMenu tray(handlers);
    EXPECT_EQ(entryTexts(tray.menu()),
              QStringList({"Stopped", "Start Server", "Sessions\u2026", "--", "Settings\u2026",
                           "Start Server When Corvane Opens", "Send Usage Pings",
                           "Open Corvane at Login", "--", "Check Permissions\u2026",
                           "Repair Permissions", "Test Connection\u2026", "Show Log",
                           "Show Connection Log\u2026", "Copy Diagnostics", "--", "Quit Corvane"}));
    EXPECT_FALSE(tray.statusLine()->isEnabled());
    int withKeys = 0;
    for (QAction* action : tray.menu()->actions())
        withKeys += !action->shortcut().isEmpty();
    EXPECT_EQ(withKeys, 2);
    QAction* settingsItem = tray.menu()->actions()[4];
    QAction* quitItem = tray.menu()->actions().back();
    EXPECT_EQ(settingsItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(quitItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    settingsItem->trigger();
    quitItem->trigger();
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(quits, 1);
}

TEST(TrayMenu, StatusLineAndToggleInEachServerState) {
    const std::vector<Address> lan{{"eth0", "192.168.1.5"}, {"wlan0", "10.0.0.2"}};
    struct Case {
        const char* name;
        ServerView view;
        const char* status;
        const char* toggle;
    };
    const Case cases[] = {
        {"stopped", {false, false, std::nullopt, 3389, {}, {}}, "Stopped", "Start Server"},
        {"starting",
         {false, true, std::nullopt, 3389, {}, {}},
         "Checking permissions\u2026",
         "Start Server"},
        {"running",
         {true, false, std::nullopt, 3390, lan, {}},
         "Running \u00b7 192.168.1.5:3390",
         "Stop Server"},
        {"running offline",
         {true, false, std::nullopt, 3389, {}, {}},
         "Running on port 3389 (no network)",
         "Stop Server"},
        {"failed",
         {false, false, "Stopped unexpectedly (code 137)", 3389, {}, {}},
         "Stopped unexpectedly (code 137)",
         "Start Server"},
        {"starting beats an old error",
         {false, true, "Stopped unexpectedly (code 1)", 3389, {}, {}},
         "Checking permissions\u2026",
         "Start Server"},
    };
    TrayMenu tray({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MenuState state;
        state.statusLine = statusLineText(c.view);
        state.toggleTitle = toggleTitle(c.view);
        tray.apply(state);
        EXPECT_EQ(tray.statusLine()->text().toStdString(), c.status);
        EXPECT_EQ(tray.toggle()->text().toStdString(), c.toggle);
    }
    // Check marks follow the stored values, whatever a click did to them.
    tray.pingItem()->trigger();
    tray.apply({"Stopped", "Start Server", true, false, true, false});
    EXPECT_TRUE(tray.autoItem()->isChecked());
    EXPECT_FALSE(tray.pingItem()->isChecked());
    EXPECT_TRUE(tray.loginItem()->isChecked());
}

TEST(Supervision, RestartSchedule) {
    const double delays[] = {2, 2, 4, 8, 16, 32, 60, 60};
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(serverRestartDelay(n), delays[n]) << n;
    // Crashing 10 s after each start counts up; a run of ten minutes starts afresh.
    EXPECT_EQ(unexpectedEndsAfter(3, 10), 4);
    EXPECT_EQ(unexpectedEndsAfter(3, 600), 1);
    EXPECT_EQ(unexpectedEndsAfter(3, 300), 1);
    // The log line, in the singular and the plural, is checked end to end.
}

namespace {

std::string connecting(int id, const char* account, const char* address) {
    return "{\"v\":1,\"type\":\"client-connecting\",\"id\":" + std::to_string(id) +
           ",\"address\":\"" + address + "\",\"account\":\"" + account +
           "\",\"login\":\"password\"}";
}
std::string ready(int id) {
    return "{\"v\":1,\"type\":\"client-ready\",\"id\":" + std::to_string(id) +
           ",\"mode\":\"control\"}";
}
std::string left(int id) {
    return "{\"v\":1,\"type\":\"client-left\",\"id\":" + std::to_string(id) + ",\"reason\":\"x\"}";
}

} // namespace

TEST(ClientPresence, StatusLineAndNoticesFollowTheSessions) {
    const std::string alice = "alice from 192.0.2.7";
    const std::string bob = "bob from 198.51.100.4";
    struct Step {
        std::string line;
        const char* status;
        std::vector<std::string> notices;
    };
    const Step steps[] = {
        {connecting(1, "alice", "192.0.2.7"), "alice from 192.0.2.7 connected", {}},
        {ready(1),
         "alice from 192.0.2.7 connected",
         {alice + " is connected to this computer's desktop."}},
        {connecting(2, "bob", "198.51.100.4"), "2 clients connected", {}},
        {ready(2), "2 clients connected", {bob + " is connected to this computer's desktop."}},
        {left(1), "bob from 198.51.100.4 connected", {alice + " left this computer's desktop."}},
        // Turned away before it had the desktop: counted while there, never announced.
        {connecting(3, "carol", "203.0.113.9"), "2 clients connected", {}},
        {left(3), "bob from 198.51.100.4 connected", {}},
        {left(2), "Running \u00b7 10.0.0.2:3389", {bob + " left this computer's desktop."}},
    };
    ControlSessions model;
    ClientWatch watch;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.line);
        ASSERT_TRUE(model.apply(step.line));
        ServerView view;
        view.running = true;
        view.addresses = {{"eth0", "10.0.0.2"}};
        view.clients = clientsLine(model.sessions());
        EXPECT_EQ(statusLineText(view), step.status);
        EXPECT_EQ(watch.update(model.sessions()), step.notices);
        EXPECT_TRUE(watch.update(model.sessions()).empty()) << "each change told once";
    }
    // A stopped server says so, whatever its last clients were.
    ServerView stopped;
    stopped.clients = "alice from 192.0.2.7 connected";
    EXPECT_EQ(statusLineText(stopped), "Stopped");
}

TEST(ClientPresence, BadgeOnlyWhileClientsAreConnected) {
    for (bool running : {false, true})
        for (bool clients : {false, true}) {
            SCOPED_TRACE(std::to_string(running) + std::to_string(clients));
            const QImage image = trayIcon(running, clients).pixmap(32, 32).toImage();
            ASSERT_FALSE(image.isNull());
            // The badge's middle, in the symbol's lower right corner.
            const QColor corner = image.pixelColor(24, 24);
            EXPECT_EQ(corner.rgb() == kSystemOrange.rgb(), clients) << corner.name().toStdString();
        }
}
