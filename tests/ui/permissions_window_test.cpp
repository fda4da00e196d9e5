// The permissions window over the sim privacy database, with the real server
// executable answering the probes and the watch driven by a manual clock.
#include <gtest/gtest.h>

#include "qt_print.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "alert_recorder.h"
#include "app/core/helper_perms.h"
#include "app/ui/permissions_window.h"
#include "manual_clock.h"
#include "platform/platform.h"
#include "platform/sim/sim_platform.h"
#include "support.h"

using namespace corvane::app;
using namespace corvane::app::ui;
using corvane::platform::sim::SimPrivacy;
using corvane::test::pumpUntil;

namespace {

class PermissionsWindowTest : public corvane::test::AppTest {
  protected:
    corvane::test::ScopedEnv cli{"TALVEN_CLI", CORVANE_SERVER_EXECUTABLE};
    corvane::test::ScopedEnv platformName{"CORVANE_PLATFORM", "sim"};
    corvane::test::ScopedEnv privacyDb{"CORVANE_SIM_PRIVACY_DB", dir.file("privacy.db")};
    corvane::test::ManualClock clock;
    std::shared_ptr<HelperPerms> perms;
    std::unique_ptr<PermissionsController> controller;
    corvane::platform::sim::SimPlatform* sim = nullptr;
    int ready = 0;

    void SetUp() override {
        corvane::platform::replaceCurrent(corvane::platform::create("sim"));
        sim = dynamic_cast<corvane::platform::sim::SimPlatform*>(&corvane::platform::current());
        ASSERT_TRUE(sim);
        perms = HelperPerms::create(defaults, dir.file("no-install"));
        controller = std::make_unique<PermissionsController>(perms, clock);
    }
    void set(const char* service, SimPrivacy::State s) {
        ASSERT_TRUE(sim->simPrivacy().set("com.corvane.shadow", service, s));
    }
    void show(bool autoContinue, bool repair) {
        controller->show(autoContinue, repair, [this] { ++ready; });
        ASSERT_TRUE(pumpUntil([&] { return controller->status().has_value(); }, 30));
    }
    // One watch tick and the probe it starts.
    void tick() {
        clock.advance(PermissionsController::kWatchSeconds);
        pumpUntil([&] { return false; }, 0.05);
        ASSERT_TRUE(pumpUntil([&] { return !controller->checking(); }, 30));
    }
    std::vector<std::string> opened() { return sim->simPrivacy().openedSettings(); }
    PermissionsWindow& w() { return *controller->window(); }
};

} // namespace

TEST_F(PermissionsWindowTest, BothMissingRepairsThenOpensScreenRecording) {
    set("ScreenCapture", SimPrivacy::State::Denied);
    set("Accessibility", SimPrivacy::State::Denied);
    sim->simPrivacy().setResetsFail(true); // the prompts change nothing
    controller->show(true, true, [this] { ++ready; });
    EXPECT_EQ(w().size(), QSize(540, 330));
    EXPECT_EQ(w().windowTitle(), "Corvane Server needs two permissions");
    EXPECT_EQ(w().screenStatus->text(), "\u2026");

    ASSERT_TRUE(pumpUntil([&] { return controller->busy(); }, 30));
    EXPECT_TRUE(w().summary->text().startsWith("Checking again that Corvane Server can open"));
    EXPECT_FALSE(w().repairButton->isEnabled());
    ASSERT_TRUE(pumpUntil([&] { return !controller->busy(); }, 30));

    EXPECT_EQ(opened(), std::vector<std::string>{"ScreenCapture"});
    EXPECT_EQ(w().screenStatus->text(), "\u2717 Not allowed yet");
    EXPECT_EQ(w().inputStatus->text(), "\u2717 Not allowed yet");
    EXPECT_TRUE(w().repairButton->isEnabled());
    EXPECT_FALSE(w().startButton->isEnabled());
    // The line of the request probe, not only its effect: polled, so that a
    // slow probe shows as its own line ("no answer from the server") in the
    // failure instead of as a missing one.
    EXPECT_TRUE(pumpUntil(
        [&] { return log().find("permission request: screen=0 input=0") != std::string::npos; },
        10))
        << log();
    EXPECT_EQ(ready, 0);
}

TEST_F(PermissionsWindowTest, ScreenGrantedOpensAccessibilityOnceThenContinuesOnce) {
    set("ScreenCapture", SimPrivacy::State::Denied);
    set("Accessibility", SimPrivacy::State::Denied);
    show(true, false);
    tick();
    EXPECT_TRUE(opened().empty());

    set("ScreenCapture", SimPrivacy::State::Granted);
    tick();
    EXPECT_EQ(w().screenStatus->text(), "\u2713 Allowed");
    EXPECT_EQ(opened(), std::vector<std::string>{"Accessibility"});
    tick();
    EXPECT_EQ(opened().size(), 1u) << "opened once per showing";

    set("Accessibility", SimPrivacy::State::Granted);
    tick();
    EXPECT_EQ(ready, 1);
    EXPECT_FALSE(controller->isVisible());
    EXPECT_TRUE(clock.pending().empty()) << "the watch ends with the window";
    clock.advance(10);
    EXPECT_EQ(ready, 1);
}

TEST_F(PermissionsWindowTest, ClosingTheWindowStartsNothing) {
    set("ScreenCapture", SimPrivacy::State::Denied);
    set("Accessibility", SimPrivacy::State::Granted);
    show(true, false);
    w().close();
    EXPECT_TRUE(clock.pending().empty());
    set("ScreenCapture", SimPrivacy::State::Granted);
    clock.advance(10);
    pumpUntil([&] { return false; }, 0.2);
    EXPECT_EQ(ready, 0);
}

TEST_F(PermissionsWindowTest, WithEverythingAllowedReturnPressesStartServer) {
    set("ScreenCapture", SimPrivacy::State::Granted);
    set("Accessibility", SimPrivacy::State::Granted);
    show(false, true);
    EXPECT_TRUE(controller->isVisible());
    EXPECT_TRUE(w().startButton->isEnabled());
    EXPECT_FALSE(w().repairButton->isEnabled());
    EXPECT_FALSE(w().screenButton->isEnabled());
    EXPECT_EQ(w().summary->text(), "Everything is allowed.");
    controller->repairAgain(); // nothing to repair
    EXPECT_FALSE(controller->busy());
    EXPECT_EQ(ready, 0);
    QTest::keyClick(&w(), Qt::Key_Return);
    EXPECT_EQ(ready, 1);
    EXPECT_FALSE(controller->isVisible());
}

TEST_F(PermissionsWindowTest, NoServerToAskSaysSoInRed) {
    setenv("TALVEN_CLI", dir.file("missing").c_str(), 1);
    perms = HelperPerms::create(defaults, dir.file("no-install"));
    controller = std::make_unique<PermissionsController>(perms, clock);
    controller->show(true, true, [this] { ++ready; });
    ASSERT_TRUE(pumpUntil([&] { return perms->lastProbeFailed(); }, 5));
    pumpUntil([&] { return false; }, 0.05);
    EXPECT_EQ(w().summary->text(), "Corvane Server could not be asked (is it missing from the "
                                   "installation?).  Reinstall Corvane.");
    EXPECT_TRUE(w().repairButton->isEnabled());
}
