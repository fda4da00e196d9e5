// Test Connection: the report in an alert, and "Copy Address".
#include <gtest/gtest.h>

#include "qt_print.h"

#include <QClipboard>
#include <QGuiApplication>

#include "alert_recorder.h"
#include "app/core/helper_perms.h"
#include "app/ui/app_delegate.h"
#include "manual_clock.h"
#include "support.h"

using namespace corvane::app;
using namespace corvane::app::ui;

TEST(TestConnection, ShowsTheReportAndCopiesTheFirstAddress) {
    corvane::test::TempDir dir;
    auto defaults = std::make_shared<UserDefaults>(QString::fromStdString(dir.file("s.ini")));
    registerSettingDefaults(*defaults);
    defaults->set("port", 3390);
    corvane::test::ManualClock clock;
    AppDelegate::Services services;
    services.defaults = defaults;
    services.helperPerms = HelperPerms::create(defaults, dir.file("no-install"));
    services.clock = &clock;
    services.showPresence = false;
    services.localAddresses = [] {
        return std::vector<Address>{{"eth0", "192.168.1.20"}, {"wlan0", "10.0.0.7"}};
    };
    AppDelegate delegate(services);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));

    corvane::test::AlertRecorder answers(1); // "Copy Address"
    delegate.testConnection();
    ASSERT_TRUE(corvane::test::pumpUntil([&] { return !answers.alerts.empty(); }, 10));
    const Alert& alert = answers.alerts[0];
    EXPECT_EQ(alert.message, "Test Connection");
    EXPECT_EQ(alert.informative.toStdString(), NetInfo::report(3390, false, {}, false, {}, false));
    EXPECT_EQ(alert.buttons, QStringList({"OK", "Copy Address"}));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "192.168.1.20:3390");
}
