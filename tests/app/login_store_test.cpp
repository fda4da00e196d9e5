// The login store against a real Secret Service: gnome-keyring started inside
// a private D-Bus session with a temporary HOME. This test binary is started
// again as the client (role "login-store") inside that session and prints
// one result a line; the test checks the lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "app/core/nla_login.h"
#include "app/core/settings.h"
#include "app/core/spawn.h"
#include "child_roles.h"
#include "support.h"

using namespace corvane::app;

namespace {

std::string show(const std::optional<std::string>& value) {
    return value ? *value : "none";
}

int itemCount() {
    auto out = corvane::test::shell(
        "secret-tool search --all service com.corvane.app account windows-login 2>&1");
    if (!out)
        return -1;
    int count = 0;
    std::istringstream lines(*out);
    for (std::string line; std::getline(lines, line);)
        count += line.rfind("[/", 0) == 0;
    return count;
}

int loginStoreScript() {
    auto say = [](const std::string& key, const std::string& value) {
        std::printf("%s=%s\n", key.c_str(), value.c_str());
    };
    NLALogin::clear();
    say("initial", show(NLALogin::load()));
    say("save", NLALogin::save(" alice\t", "password") ? "1" : "0");
    say("load", show(NLALogin::load()));
    say("save_again", NLALogin::save("bob", "Secret") ? "1" : "0");
    say("items", std::to_string(itemCount()));
    say("rename", NLALogin::rename("carol") ? "1" : "0");
    say("renamed", show(NLALogin::load()));
    say("rename_bad", NLALogin::rename("bad:name") ? "1" : "0");
    say("save_bad", NLALogin::save("x@y", "pw") ? "1" : "0");
    say("after_bad", show(NLALogin::load()));
    UserDefaults defaults(QString::fromStdString(std::string(std::getenv("HOME")) + "/s.ini"));
    registerSettingDefaults(defaults);
    say("settings", show(currentSettings(defaults).nlaLogin));
    NLALogin::clear();
    say("cleared", show(NLALogin::load()));
    say("rename_empty", NLALogin::rename("dave") ? "1" : "0");
    say("after_rename_empty", show(NLALogin::load()));
    return 0;
}

const bool registered = corvane::test::registerChildRole("login-store", loginStoreScript);

std::map<std::string, std::string> parseResults(const std::string& output) {
    std::map<std::string, std::string> results;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (auto equals = line.find('='); equals != std::string::npos && line[0] != '[')
            results[line.substr(0, equals)] = line.substr(equals + 1);
    return results;
}

std::map<std::string, std::string> baseEnvironment(const corvane::test::TempDir& dir) {
    return {{"HOME", dir.file("home")},
            {"XDG_RUNTIME_DIR", dir.file("run")},
            {"XDG_DATA_HOME", dir.file("home/.local/share")},
            {"PATH", "/usr/bin:/bin"},
            {"CORVANE_TEST_ROLE", "login-store"}};
}

void makeHome(const corvane::test::TempDir& dir) {
    std::filesystem::create_directories(dir.file("home"));
    std::filesystem::create_directories(dir.file("run"));
    std::filesystem::permissions(dir.file("run"), std::filesystem::perms::owner_all);
}

} // namespace

TEST(LoginStore, SavedRenamedLoadedAndClearedInTheSecretService) {
    if (!corvane::test::shell("command -v dbus-run-session"))
        GTEST_SKIP() << "dbus-run-session is not installed";
    ASSERT_TRUE(corvane::test::shell("command -v gnome-keyring-daemon"));
    corvane::test::TempDir dir;
    makeHome(dir);
    const char* script =
        "eval \"$(printf test | gnome-keyring-daemon --unlock --components=secrets)\" && "
        "exec \"$0\"";
    auto output = Spawn::output("/usr/bin/dbus-run-session",
                                {"--", "/bin/sh", "-c", script, corvane::test::selfExecutable()},
                                baseEnvironment(dir), 60);
    ASSERT_TRUE(output);
    auto r = parseResults(*output);
    const std::string passwordHash = "8846f7eaee8fb117ad06bdd830b7586c";
    const std::string secretHash = NLALogin::ntHashHex("Secret");
    EXPECT_EQ(r["initial"], "none") << *output;
    EXPECT_EQ(r["save"], "1");
    EXPECT_EQ(r["load"], "alice:" + passwordHash);
    EXPECT_EQ(r["save_again"], "1");
    EXPECT_EQ(r["items"], "1") << "saving twice updates the one item";
    EXPECT_EQ(r["rename"], "1");
    EXPECT_EQ(r["renamed"], "carol:" + secretHash);
    EXPECT_EQ(r["rename_bad"], "0");
    EXPECT_EQ(r["save_bad"], "0");
    EXPECT_EQ(r["after_bad"], "carol:" + secretHash) << "refused entries write nothing";
    EXPECT_EQ(r["settings"], "carol:" + secretHash);
    EXPECT_EQ(r["cleared"], "none");
    EXPECT_EQ(r["rename_empty"], "0");
    EXPECT_EQ(r["after_rename_empty"], "none");
}

TEST(LoginStore, UnreachableStoreLoadsNothingAndRefusesToSave) {
    corvane::test::TempDir dir;
    makeHome(dir);
    auto env = baseEnvironment(dir);
    env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + dir.file("run/no-bus");
    auto output = Spawn::output(corvane::test::selfExecutable(), {}, env, 60);
    ASSERT_TRUE(output);
    auto r = parseResults(*output);
    EXPECT_EQ(r["initial"], "none") << *output;
    EXPECT_EQ(r["save"], "0");
    EXPECT_EQ(r["load"], "none");
    EXPECT_EQ(r["settings"], "none");
}
