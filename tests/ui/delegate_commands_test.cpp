// Menu commands of the delegate that need no server: Test Connection with
// "Copy Address", Copy Diagnostics with its four-second status line, and the
// login item.
#include <gtest/gtest.h>

#include "qt_print.h"

#include <QClipboard>
#include <QGuiApplication>
#include <filesystem>

#include "alert_recorder.h"
#include "app/core/helper_perms.h"
#include "app/ui/app_delegate.h"
#include "app/ui/login_item.h"
#include "app/ui/tray_menu.h"
#include "manual_clock.h"
#include "support.h"

using namespace corvane::app;
using namespace corvane::app::ui;

namespace {

class DelegateCommands : public corvane::test::AppTest {
  protected:
    corvane::test::ScopedEnv cli{"TALVEN_CLI", dir.file("missing")};
    corvane::test::ManualClock clock;
    std::vector<Address> addresses;
    std::unique_ptr<AppDelegate> delegate;

    void SetUp() override {
        registerSettingDefaults(*defaults);
        AppDelegate::Services services;
        services.defaults = defaults;
        services.helperPerms = HelperPerms::create(defaults, dir.file("no-install"));
        services.clock = &clock;
        services.showPresence = false;
        services.localAddresses = [this] { return addresses; };
        delegate = std::make_unique<AppDelegate>(services);
        delegate->buildMenu();
        delegate->updateUI();
    }
};

} // namespace

TEST_F(DelegateCommands, TestConnectionShowsTheReportAndCopiesTheFirstAddress) {
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

TEST_F(DelegateCommands, CopyDiagnosticsShowsItsStatusLineForFourSeconds) {
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
    EXPECT_FALSE(corvane::test::fileExists(entry.path()));
    EXPECT_TRUE(entry.setEnabled(false, error)) << "already off";
}
