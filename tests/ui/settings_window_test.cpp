// The settings window: filled from the stored values, saved back in order,
// with its alerts, on the offscreen platform.
#include <gtest/gtest.h>

#include "qt_print.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include "alert_recorder.h"
#include "app/core/launch_plan.h"
#include "app/core/settings.h"
#include "app/ui/login_store.h"
#include "app/ui/settings_window.h"
#include "support.h"

using namespace corvane::app;
using namespace corvane::app::ui;

namespace {

// The login store in memory: "user:hash" like the real one.
class MemoryLogins : public LoginStore {
  public:
    std::optional<std::string> entry;
    std::optional<std::string> load() override { return entry; }
    bool save(const std::string& user, const std::string& password) override {
        if (user.find_first_of(":\\@") != std::string::npos)
            return false;
        entry = user + ":" + std::string(32, password[0] == 'a' ? 'a' : 'b');
        return true;
    }
    bool rename(const std::string& user) override {
        if (!entry || user.find_first_of(":\\@") != std::string::npos)
            return false;
        entry = user + entry->substr(entry->rfind(':'));
        return true;
    }
    void clear() override { entry.reset(); }
};

class SettingsWindowTest : public corvane::test::AppTest {
  protected:
    MemoryLogins logins;
    int saved = 0;
    std::unique_ptr<SettingsWindow> window;
    corvane::test::AlertRecorder alerts;

    void SetUp() override {
        registerSettingDefaults(*defaults);
        window = std::make_unique<SettingsWindow>(defaults, logins, [this] { ++saved; });
    }
};

} // namespace

TEST_F(SettingsWindowTest, FilledFromStoredValuesAndSavedBack) {
    defaults->set("port", 3390);
    defaults->set("scale", 0.5);
    defaults->set("fps", 60);
    defaults->set("bitrateMbps", 20);
    defaults->set("maxWidth", 5120);
    defaults->set("maxPixels", 8294400);
    defaults->set("remoteScreen", "extend");
    defaults->set("cursorInVideo", true);
    defaults->set("audio", false);
    defaults->set("allowedAccounts", "anna, @ops");
    defaults->set("whenClientConnects", "ask-unless-away");
    defaults->set("awayIdleMinutes", 12);
    defaults->set("promptSeconds", 45);
    defaults->set("lockOnLeave", "off");
    logins.entry = "anna:" + std::string(32, 'c');
    window->open();

    EXPECT_EQ(window->portField->text(), "3390");
    EXPECT_EQ(window->scale->value(), 50);
    EXPECT_EQ(window->scaleLabel->text(), "50%");
    EXPECT_EQ(window->fps->currentText(), "60");
    EXPECT_EQ(window->bitrate->currentText(), "20 Mbit/s");
    EXPECT_EQ(window->maxWidthPop->currentText(), "5120 px");
    EXPECT_EQ(window->maxSize->currentText(), "4K");
    EXPECT_EQ(window->vmode->currentText(), "Separate extra screen");
    EXPECT_TRUE(window->cursor->isChecked());
    EXPECT_FALSE(window->audio->isChecked());
    EXPECT_TRUE(window->auth->isChecked());
    EXPECT_EQ(window->nlaUser->text(), "anna");
    EXPECT_EQ(window->allowedAccounts->text(), "anna, @ops");
    EXPECT_EQ(window->whenConnects->currentText(),
              "Ask me; let it in when nobody is at the desktop");
    EXPECT_EQ(window->awayMinutes->value(), 12);
    EXPECT_EQ(window->promptSeconds->value(), 45);
    EXPECT_EQ(window->lockOnLeave->currentText(), "Never");
    EXPECT_EQ(window->nlaPass->placeholderText(), "unchanged");
    EXPECT_EQ(window->nlaStatus->text(),
              "Set. Clear the user name to remove it; type a password to change it.");

    // A new name with an empty password keeps the stored hash.
    window->nlaUser->setText(" \tbert ");
    window->bitrate->setCurrentIndex(0);
    window->ctrl->setChecked(false);
    window->allowedAccounts->setText("  bert,@ops\t");
    window->whenConnects->setCurrentText("Ask me");
    window->awayMinutes->setValue(7);
    window->promptSeconds->setValue(20);
    window->lockOnLeave->setCurrentText("Always");
    QTest::keyClick(window.get(), Qt::Key_Return); // Return saves
    EXPECT_EQ(saved, 1);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(logins.entry, "bert:" + std::string(32, 'c'));
    EXPECT_EQ(defaults->integer("port"), 3390);
    EXPECT_EQ(defaults->number("scale"), 0.5);
    EXPECT_EQ(defaults->integer("bitrateMbps"), 5);
    EXPECT_EQ(defaults->integer("maxWidth"), 5120);
    EXPECT_EQ(defaults->string("remoteScreen"), "extend");
    EXPECT_FALSE(defaults->boolean("ctrlAsCmd"));
    EXPECT_TRUE(defaults->boolean("cursorInVideo"));
    EXPECT_EQ(defaults->string("allowedAccounts"), "bert,@ops");
    EXPECT_EQ(log().find("port changed"), std::string::npos);
    // What was saved is what the next server start is given.
    const Environment env =
        buildLaunchPlan(currentSettings(*defaults, [] { return std::nullopt; }), {}).environment;
    EXPECT_EQ(env.at("MAC_SHADOW_ASK"), "ask");
    EXPECT_EQ(env.at("MAC_SHADOW_AWAY_IDLE"), "420");
    EXPECT_EQ(env.at("MAC_SHADOW_ASK_TIMEOUT"), "20");
    EXPECT_EQ(env.at("MAC_SHADOW_LOCK_ON_LEAVE"), "on");
}

TEST_F(SettingsWindowTest, OutsideValuesMapToTheNearestChoice) {
    defaults->set("fps", 25);
    defaults->set("maxPixels", 5000000);
    defaults->set("promptSeconds", 2);
    defaults->set("awayIdleMinutes", 0);
    window->open();
    EXPECT_EQ(window->whenConnects->currentText(), "Let it in") << "a file from before asking";
    EXPECT_EQ(window->lockOnLeave->currentText(), "Automatic");
    EXPECT_EQ(window->promptSeconds->value(), 5);
    EXPECT_EQ(window->awayMinutes->value(), 1);
    EXPECT_EQ(window->fps->currentIndex(), -1);
    EXPECT_EQ(window->maxSize->currentText(), "1440p");
    window->scale->setValue(100);
    window->portField->setText("3391");
    ASSERT_TRUE(window->saveSettings());
    EXPECT_EQ(defaults->integer("fps"), 30);
    EXPECT_EQ(defaults->integer("maxPixels"), 3686400);
    EXPECT_EQ(defaults->string("whenClientConnects"), "allow");
    EXPECT_EQ(defaults->integer("promptSeconds"), 5);
    EXPECT_EQ(defaults->string("lockOnLeave"), "auto");
    EXPECT_EQ(defaults->value("scale").toDouble(), 1.0);
    EXPECT_NE(log().find("[Corvane app] port changed in Settings: 3389 -> 3391"),
              std::string::npos);

    window->open();
    window->scale->setValue(25);
    EXPECT_EQ(window->scaleLabel->text(), "25%");
    ASSERT_TRUE(window->saveSettings());
    EXPECT_EQ(defaults->number("scale"), 0.25);
}

// A stored scale shows as its percent and goes back unchanged when saved.
TEST_F(SettingsWindowTest, ScalePercentsSurviveReopeningAndSaving) {
    for (const int percent : {29, 57, 58}) {
        defaults->set("scale", percent / 100.0);
        window->open();
        EXPECT_EQ(window->scale->value(), percent);
        ASSERT_TRUE(window->saveSettings());
        EXPECT_EQ(defaults->number("scale"), percent / 100.0);
    }
}

TEST_F(SettingsWindowTest, PortOutsideTheRangeIsRefusedAfterTheLogin) {
    logins.entry = "anna:" + std::string(32, 'c');
    window->open();
    window->nlaUser->clear(); // clearing the name removes the login, even with a password
    window->nlaPass->setText("secret");
    window->portField->setText("80");
    window->fps->setCurrentIndex(0);
    EXPECT_FALSE(window->saveSettings());
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].message, "Port");
    EXPECT_EQ(alerts.alerts[0].informative,
              "\"80\" is not a port Corvane can use: type 1024 to 65535 (the RDP port is 3389).");
    EXPECT_FALSE(logins.entry);
    EXPECT_TRUE(window->nlaPass->text().isEmpty());
    EXPECT_FALSE(defaults->contains("port"));
    EXPECT_FALSE(defaults->contains("fps"));
    EXPECT_EQ(saved, 0);
}

TEST_F(SettingsWindowTest, WindowsLoginRefusals) {
    struct Case {
        std::optional<std::string> stored;
        const char* user;
        const char* password;
        const char* alert;
    };
    const Case cases[] = {
        {std::nullopt, "anna", "",
         "Type a password for the Windows login (or clear the user name to leave it off)."},
        {"anna:" + std::string(32, 'c'), "an:na", "",
         "The Windows login user name must not contain : \\ or @."},
        {std::nullopt, "an@na", "pw",
         "The Windows login user name must not be empty or contain : \\ or @ (and the Keychain "
         "must be available)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        alerts.alerts.clear();
        logins.entry = c.stored;
        window->open();
        window->nlaUser->setText(c.user);
        window->nlaPass->setText(c.password);
        window->portField->setText("4000");
        EXPECT_FALSE(window->saveSettings());
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(alerts.alerts[0].message, "Windows login");
        EXPECT_EQ(alerts.alerts[0].informative.toStdString(), c.alert);
        EXPECT_EQ(logins.entry, c.stored);
        EXPECT_FALSE(defaults->contains("port"));
    }
}
