// The tray menu: its entries, and what it shows in each server state; the
// restart schedule behind the "Stopped unexpectedly" state.
#include <gtest/gtest.h>

#include "qt_print.h"

#include <QTest>

#include "app/ui/supervision.h"
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
    EXPECT_EQ(
        entryTexts(tray.menu()),
        QStringList({"Stopped", "Start Server", "Sessions\u2026", "--", "Settings\u2026",
                     "Start Server When Corvane Opens", "Send Usage Pings", "Open Corvane at Login",
                     "--", "Check Permissions\u2026", "Repair Permissions", "Test Connection\u2026",
                     "Show Log", "Show Connection Log\u2026", "Copy Diagnostics", "--", "Quit Corvane"}));
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
