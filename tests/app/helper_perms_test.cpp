// The permission manager with real probe runs of stand-in server scripts for
// the protocol's corners, over the sim platform's privacy database (the real
// server's probe runs in the permissions window's tests).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/core/helper_perms.h"
#include "app/core/paths.h"
#include "platform/platform.h"
#include "support.h"

using namespace corvane::app;
using corvane::test::pumpUntil;
using corvane::test::readFile;
using corvane::test::ScopedEnv;
using corvane::test::writeFile;

namespace {

class HelperPermsTest : public corvane::test::AppTest {
  protected:
    ScopedEnv cli{"TALVEN_CLI", std::nullopt};
    ScopedEnv platformName{"CORVANE_PLATFORM", "sim"};
    ScopedEnv privacyDb{"CORVANE_SIM_PRIVACY_DB", dir.file("privacy.db")};

    void SetUp() override {
        corvane::test::ensureApplication();
        corvane::platform::replaceCurrent(corvane::platform::create("sim"));
    }
    std::string script(const std::string& name, const std::string& body) {
        std::string path = dir.file(name);
        writeFile(path, "#!/bin/sh\n" + body);
        ::chmod(path.c_str(), 0755);
        return path;
    }
    std::shared_ptr<HelperPerms> withServer(const std::string& path) {
        setenv("TALVEN_CLI", path.c_str(), 1);
        return HelperPerms::create(defaults, dir.file("no-install"));
    }
    // Runs an operation and the main loop until its completion arrives.
    std::optional<PermStatus> await(const std::function<void(HelperPerms::Completion)>& start,
                                    double seconds = 30) {
        bool called = false;
        std::optional<PermStatus> answer;
        start([&](std::optional<PermStatus> status) {
            called = true;
            answer = status;
        });
        EXPECT_TRUE(pumpUntil([&] { return called; }, seconds));
        return answer;
    }
};

} // namespace

// Installed, the application's folder is bin/ and the server lives in the
// private folder below lib/; one next to the application comes first, and
// TALVEN_CLI names another.
TEST_F(HelperPermsTest, ServerNextToTheApplicationInItsPrivateFolderOrFromTalvenCli) {
    const std::string bin = dir.file("usr/bin");
    const std::string privateFolder =
        (std::filesystem::path(bin) / paths::installedServerFolder()).lexically_normal().string();
    ASSERT_EQ(privateFolder.rfind(dir.file("usr/lib/"), 0), 0u) << privateFolder;
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(privateFolder);
    EXPECT_EQ(HelperPerms::create(defaults, bin)->helperBinary(), std::nullopt);
    script((std::filesystem::relative(privateFolder, dir.path()) / "freerdp-shadow-cli").string(),
           "exit 0\n");
    EXPECT_EQ(HelperPerms::create(defaults, bin)->helperBinary(),
              privateFolder + "/freerdp-shadow-cli");
    script("usr/bin/freerdp-shadow-cli", "exit 0\n");
    EXPECT_EQ(HelperPerms::create(defaults, bin)->helperBinary(), bin + "/freerdp-shadow-cli");
    ScopedEnv override{"TALVEN_CLI", "/some/where/else"};
    EXPECT_EQ(HelperPerms::create(defaults, bin)->helperBinary(), "/some/where/else");
}

TEST_F(HelperPermsTest, NonExecutableServerAnswersNothingAtOnceWithoutLogging) {
    writeFile(dir.file("plain-file"), "screen=1 input=1\n");
    auto perms = withServer(dir.file("plain-file"));
    bool called = false;
    perms->check([&](std::optional<PermStatus> s) {
        called = true;
        EXPECT_EQ(s, std::nullopt);
    });
    EXPECT_TRUE(perms->lastProbeFailed()) << "set at once, before the completion";
    EXPECT_TRUE(pumpUntil([&] { return called; }, 5));
    EXPECT_EQ(log(), "");
}

TEST_F(HelperPermsTest, CheckRunsTheProbeProtocolAndLogsTheAnswer) {
    auto server =
        script("server", "echo \"$MAC_SHADOW_PERMS $WLOG_LEVEL $*\" > " + dir.file("seen") +
                             "\necho '[ERROR] noise'\n"
                             "echo 'screen=1 input=0'\n");
    auto perms = withServer(server);
    EXPECT_EQ(await([&](auto done) { perms->check(done); }), (PermStatus{true, false}));
    EXPECT_EQ(readFile(dir.file("seen")), "check ERROR /port:33895\n");
    EXPECT_EQ(perms->last(), (PermStatus{true, false}));
    EXPECT_FALSE(perms->lastProbeFailed());
    EXPECT_FALSE(perms->grantedBefore());
    EXPECT_NE(log().find("] [Corvane app] permission check: screen=1 input=0\n"), std::string::npos)
        << log();
}

// An unusable answer keeps the last status; "granted once" stays true (in
// the settings file too) after the permissions are lost.
TEST_F(HelperPermsTest, UnusableAnswerKeepsTheLastStatusAndGrantedOnceStays) {
    std::string answerFile = dir.file("answer");
    auto perms = withServer(script("server", "cat " + answerFile + "\n"));
    writeFile(answerFile, "screen=1 input=1\n");
    await([&](auto done) { perms->check(done); });
    EXPECT_TRUE(perms->grantedBefore());
    writeFile(answerFile, "screen=0 input=1\n");
    await([&](auto done) { perms->check(done); });
    writeFile(answerFile, "screen=1\tinput=1\n");
    EXPECT_EQ(await([&](auto done) { perms->check(done); }), std::nullopt);
    EXPECT_TRUE(perms->lastProbeFailed());
    EXPECT_EQ(perms->last(), (PermStatus{false, true}));
    EXPECT_NE(log().find("permission check: no answer from the server\n"), std::string::npos);
    EXPECT_TRUE(perms->grantedBefore());
    UserDefaults reread(QString::fromStdString(dir.file("settings.ini")));
    EXPECT_TRUE(reread.boolean(HelperPerms::grantedOnceKey)) << "kept in the settings file";
}

TEST_F(HelperPermsTest, RepairWithoutRequestResetsInOrderAndHandsBackLast) {
    writeFile(dir.file("privacy.db"), "com.corvane.shadow ScreenCapture denied\n"
                                      "com.corvane.shadow Accessibility denied\n"
                                      "com.corvane.app ScreenCapture granted\n");
    auto perms = withServer(dir.file("missing-server"));
    PermRepairPlan plan{{"ScreenCapture", "Accessibility"}, false, false};
    EXPECT_EQ(await([&](auto done) { perms->repair(plan, done); }), std::nullopt);
    EXPECT_EQ(readFile(dir.file("privacy.db")), "com.corvane.app ScreenCapture granted\n");
    std::string text = log();
    size_t screen = text.find("privacy reset ScreenCapture com.corvane.shadow: exit 0\n");
    size_t input = text.find("privacy reset Accessibility com.corvane.shadow: exit 0\n");
    ASSERT_NE(screen, std::string::npos) << text;
    ASSERT_NE(input, std::string::npos) << text;
    EXPECT_LT(screen, input);
}

TEST_F(HelperPermsTest, LegacyEntriesAreClearedOnlyOnceEvenWhenTheFirstResetFails) {
    ScopedEnv brokenDb{"CORVANE_SIM_PRIVACY_DB", dir.file("no-such-dir/privacy.db")};
    corvane::platform::replaceCurrent(corvane::platform::create("sim"));
    auto perms = withServer(dir.file("missing-server"));
    perms->cleanUpLegacyEntriesOnce();
    EXPECT_TRUE(defaults->boolean(HelperPerms::legacyResetKey)) << "stored before the work";
    // The queue is serial: a repair's completion comes after the clean-up.
    await([&](auto done) { perms->repair({}, done); });
    std::string first = log();
    EXPECT_NE(first.find("privacy reset ScreenCapture com.corvane.app: exit 1 (cannot write"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("privacy reset Accessibility com.corvane.app: exit 1"), std::string::npos);

    perms->cleanUpLegacyEntriesOnce();
    await([&](auto done) { perms->repair({}, done); });
    EXPECT_EQ(log(), first);
}
