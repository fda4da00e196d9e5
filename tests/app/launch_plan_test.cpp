// The server's command line and environment for given settings.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <sstream>

#include <sys/stat.h>

#include "app/core/launch_plan.h"
#include "support.h"

using namespace corvane::app;
using Args = std::vector<std::string>;

namespace {

ServerSettings withLogin() {
    ServerSettings s;
    s.nlaLogin = "alice:0123456789abcdef0123456789abcdef";
    s.statsFile = "/home/u/stats.json";
    s.connectionLog = "/home/u/connections.jsonl";
    return s;
}

std::optional<std::string> var(const LaunchPlan& plan, const std::string& name) {
    auto it = plan.environment.find(name);
    if (it == plan.environment.end())
        return std::nullopt;
    return it->second;
}

} // namespace

// NLA only with a required login and a stored one; an inherited login never
// reaches the server.
TEST(LaunchPlanArguments, FlagsInOrderAndNlaOnlyWithAStoredRequiredLogin) {
    ServerSettings noLogin = withLogin();
    noLogin.requireLogin = false;
    noLogin.avc444 = noLogin.cursor = true;
    noLogin.port = 4000;
    const struct {
        ServerSettings settings;
        Args arguments;
        std::optional<std::string> nla;
    } cases[] = {
        {withLogin(),
         {"/port:3389", "+auth", "/sec:tls", "+sec-nla", "-gfx-avc444", "+server-side-cursor",
          "/max-connections:5"},
         "alice:0123456789abcdef0123456789abcdef"},
        {noLogin, {"/port:4000", "-auth", "/sec:tls", "+gfx-avc444", "/max-connections:5"}, {}},
        {ServerSettings{},
         {"/port:3389", "+auth", "/sec:tls", "-gfx-avc444", "+server-side-cursor",
          "/max-connections:5"},
         {}},
    };
    for (const auto& c : cases) {
        LaunchPlan plan = buildLaunchPlan(
            c.settings, {{"MAC_SHADOW_NLA", "eve:ffffffffffffffffffffffffffffffff"}});
        EXPECT_EQ(plan.arguments, c.arguments);
        EXPECT_EQ(var(plan, "MAC_SHADOW_NLA"), c.nla);
    }
    EXPECT_EQ(var(buildLaunchPlan(noLogin, {}), "MAC_SHADOW_CURSOR"), "1");
}

TEST(LaunchPlanEnvironment, DefaultsProduceEveryVariable) {
    LaunchPlan plan = buildLaunchPlan(withLogin(), {{"HOME", "/home/u"}});
    std::map<std::string, std::string> expected{
        {"HOME", "/home/u"},
        {"WLOG_LEVEL", "INFO"},
        {"MAC_SHADOW_SCALE", "0.75"},
        {"MAC_SHADOW_FPS", "30"},
        {"MAC_SHADOW_ADAPTIVE_FPS", "1"},
        {"MAC_SHADOW_CURSOR", "0"},
        {"MAC_SHADOW_MAX_PIXELS", "2073600"},
        {"MAC_SHADOW_VIRTUAL", "auto"},
        {"MAC_SHADOW_MIRROR", "1"},
        {"MAC_SHADOW_AUDIO", "1"},
        {"MAC_SHADOW_CLIPBOARD", "1"},
        {"FREERDP_VIDEOTOOLBOX_ENCODER", "1"},
        {"MAC_SHADOW_BITRATE_MBPS", "10"},
        {"MAC_SHADOW_CTRL_AS_CMD", "1"},
        {"MAC_SHADOW_STATS_FILE", "/home/u/stats.json"},
        {"MAC_SHADOW_H264_PROFILE", "baseline"},
        {"MAC_SHADOW_SIZE_ALIGN", "2"},
        {"MAC_SHADOW_NLA", "alice:0123456789abcdef0123456789abcdef"},
        {"MAC_SHADOW_ALLOWED_USERS", ""},
        {"MAC_SHADOW_CONNECTION_LOG", "/home/u/connections.jsonl"},
        {"MAC_SHADOW_ASK", "allow"},
        {"MAC_SHADOW_ASK_TIMEOUT", "30"},
        {"MAC_SHADOW_AWAY_IDLE", "300"},
        {"MAC_SHADOW_LOCK_ON_LEAVE", "auto"},
        {"MAC_SHADOW_PARENT_WATCH", "1"},
    };
    EXPECT_EQ(plan.environment, expected);
}

TEST(LaunchPlanEnvironment, InheritedVariablesAreKeptReplacedOrRemovedPerVariable) {
    ServerSettings s;
    s.maxWidth = 0;
    s.h264GopSec = 0;
    Environment base{{"WLOG_LEVEL", "DEBUG"},          {"MAC_SHADOW_MAX_WIDTH", "1920"},
                     {"MAC_SHADOW_H264_GOP_SEC", "4"}, {"MAC_SHADOW_STATS_FILE", "/elsewhere"},
                     {"MAC_SHADOW_FPS", "5"},          {"MAC_SHADOW_PERMS", "check"}};
    LaunchPlan plan = buildLaunchPlan(s, base);
    EXPECT_EQ(var(plan, "WLOG_LEVEL"), "DEBUG");
    EXPECT_EQ(var(plan, "MAC_SHADOW_MAX_WIDTH"), std::nullopt);
    EXPECT_EQ(var(plan, "MAC_SHADOW_H264_GOP_SEC"), std::nullopt);
    EXPECT_EQ(var(plan, "MAC_SHADOW_STATS_FILE"), std::nullopt);
    EXPECT_EQ(var(plan, "MAC_SHADOW_FPS"), "30");
    EXPECT_EQ(var(plan, "MAC_SHADOW_PERMS"), "check") << "the plan never touches the probe";
    EXPECT_EQ(var(buildLaunchPlan(s, {{"MAC_SHADOW_ALLOWED_USERS", "eve"},
                                      {"MAC_SHADOW_ADMIN_GROUP", "wheel"}}),
                  "MAC_SHADOW_ALLOWED_USERS"),
              "")
        << "an inherited rule never widens the stored one";
    ServerSettings asking;
    asking.whenClientConnects = ConnectPolicy::ask;
    EXPECT_EQ(var(buildLaunchPlan(asking, {{"MAC_SHADOW_ASK", "allow"}}), "MAC_SHADOW_ASK"), "ask")
        << "an inherited answer never skips the stored question";
    EXPECT_EQ(
        var(buildLaunchPlan(s, {{"MAC_SHADOW_ADMIN_GROUP", "wheel"}}), "MAC_SHADOW_ADMIN_GROUP"),
        std::nullopt);
    s.allowedAccounts = "bob, @ops";
    s.adminGroup = "wheel";
    EXPECT_EQ(var(buildLaunchPlan(s, {}), "MAC_SHADOW_ALLOWED_USERS"), "bob, @ops");
    EXPECT_EQ(var(buildLaunchPlan(s, {}), "MAC_SHADOW_ADMIN_GROUP"), "wheel");
    s.allowedAccounts.clear();
    s.adminGroup.clear();

    s.maxWidth = 2560;
    s.h264GopSec = 2;
    plan = buildLaunchPlan(s, base);
    EXPECT_EQ(var(plan, "MAC_SHADOW_MAX_WIDTH"), "2560");
    EXPECT_EQ(var(plan, "MAC_SHADOW_H264_GOP_SEC"), "2");
}

TEST(LaunchPlanEnvironment, ValuesAreNormalised) {
    auto env = [](auto change, const char* name) {
        ServerSettings s;
        change(s);
        return *var(buildLaunchPlan(s, {}), name);
    };
    const std::pair<RemoteScreen, const char*> screens[] = {{RemoteScreen::mirror, "auto 1"},
                                                            {RemoteScreen::extend, "auto 0"},
                                                            {RemoteScreen::real, "never 0"}};
    for (auto [mode, expected] : screens) {
        auto set = [mode = mode](ServerSettings& s) { s.remoteScreen = mode; };
        EXPECT_EQ(env(set, "MAC_SHADOW_VIRTUAL") + " " + env(set, "MAC_SHADOW_MIRROR"), expected);
    }
    const struct {
        void (*change)(ServerSettings&);
        const char* name;
        const char* value;
    } asking[] = {
        {[](ServerSettings& s) { s.scale = 0.333; }, "MAC_SHADOW_SCALE", "0.33"},
        {[](ServerSettings& s) { s.scale = 1; }, "MAC_SHADOW_SCALE", "1.00"},
        {[](ServerSettings& s) { s.h264Profile = "High"; }, "MAC_SHADOW_H264_PROFILE", "baseline"},
        {[](ServerSettings& s) { s.h264Profile = "main"; }, "MAC_SHADOW_H264_PROFILE", "main"},
        {[](ServerSettings& s) { s.videoEncoder = false; }, "FREERDP_VIDEOTOOLBOX_ENCODER", "0"},
        {[](ServerSettings& s) { s.whenClientConnects = ConnectPolicy::ask; }, "MAC_SHADOW_ASK",
         "ask"},
        {[](ServerSettings& s) { s.whenClientConnects = ConnectPolicy::askUnlessAway; },
         "MAC_SHADOW_ASK", "ask-unless-away"},
        {[](ServerSettings& s) { s.promptSeconds = 2; }, "MAC_SHADOW_ASK_TIMEOUT", "5"},
        {[](ServerSettings& s) { s.promptSeconds = 45; }, "MAC_SHADOW_ASK_TIMEOUT", "45"},
        {[](ServerSettings& s) { s.promptSeconds = 6000; }, "MAC_SHADOW_ASK_TIMEOUT", "600"},
        {[](ServerSettings& s) { s.awayIdleMinutes = 0; }, "MAC_SHADOW_AWAY_IDLE", "60"},
        {[](ServerSettings& s) { s.awayIdleMinutes = 12; }, "MAC_SHADOW_AWAY_IDLE", "720"},
        {[](ServerSettings& s) { s.awayIdleMinutes = 1 << 30; }, "MAC_SHADOW_AWAY_IDLE", "86400"},
        {[](ServerSettings& s) { s.lockOnLeave = LockOnLeave::always; }, "MAC_SHADOW_LOCK_ON_LEAVE",
         "on"},
        {[](ServerSettings& s) { s.lockOnLeave = LockOnLeave::never; }, "MAC_SHADOW_LOCK_ON_LEAVE",
         "off"},
    };
    for (const auto& a : asking)
        EXPECT_EQ(env(a.change, a.name), a.value) << a.name << " row " << &a - asking;
    for (int align : {0, 1, 2, 3, 4, 8, 16, 32, -4})
        EXPECT_EQ(env([align](ServerSettings& s) { s.sizeAlign = align; }, "MAC_SHADOW_SIZE_ALIGN"),
                  align == 4 || align == 8 || align == 16 ? std::to_string(align) : "2")
            << align;
}

// Qt switches the process to the user's locale; the numbers the server reads
// must not follow it (under de_DE "%.2f" gives "0,75", which the server
// reads as 0).
TEST(LaunchPlanEnvironment, NumbersIgnoreTheUsersLocale) {
    corvane::test::TempDir dir;
    ASSERT_TRUE(corvane::test::shell("localedef -c -i de_DE -f UTF-8 '" + dir.file("de_DE.UTF-8") +
                                     "' 2>&1"));
    corvane::test::ScopedEnv localePath{"LOCPATH", dir.path()};
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    char localised[16];
    std::snprintf(localised, sizeof localised, "%.2f", 0.75);
    ServerSettings s;
    s.scale = 0.75;
    s.bitrateMbps = 12000;
    s.maxWidth = 2560;
    const LaunchPlan plan = buildLaunchPlan(s, {});
    std::setlocale(LC_ALL, "C");
    ASSERT_STREQ(localised, "0,75") << "the comma locale was in force";
    EXPECT_EQ(var(plan, "MAC_SHADOW_SCALE"), "0.75");
    EXPECT_EQ(var(plan, "MAC_SHADOW_MAX_PIXELS"), "2073600");
    EXPECT_EQ(var(plan, "MAC_SHADOW_BITRATE_MBPS"), "12000");
    EXPECT_EQ(var(plan, "MAC_SHADOW_MAX_WIDTH"), "2560");
}

// What `corvane --print-launch-plan` prints: only what the plan changes,
// quoted for the shell, and never the stored login.
TEST(LaunchPlanCommand, ChangesOnlyQuotedAndWithoutTheLogin) {
    LaunchPlan plan;
    plan.arguments = {"/port:3390", "+auth"};
    plan.environment = {{"KEPT", "same"},
                        {"CHANGED", "new value"},
                        {"ADDED", "it's"},
                        {"MAC_SHADOW_NLA", "alice:0123456789abcdef0123456789abcdef"}};
    const Environment base = {{"KEPT", "same"}, {"CHANGED", "old"}, {"GONE", "x"}};
    EXPECT_EQ(launchPlanCommand(plan, base, "/opt/my server/freerdp-shadow-cli"),
              "# MAC_SHADOW_NLA (the stored Windows login) is left out: it is a secret\n"
              "env \\\n"
              "  -u GONE \\\n"
              "  'ADDED=it'\\''s' \\\n"
              "  'CHANGED=new value' \\\n"
              "  '/opt/my server/freerdp-shadow-cli' /port:3390 +auth\n");
}

// The printed command, run by a shell, gives the server the plan's own
// arguments and environment.
TEST(LaunchPlanCommand, AShellRunsItAsPlanned) {
    ServerSettings settings = withLogin();
    settings.nlaLogin.reset();
    settings.scale = 0.5;
    const Environment base = {{"PATH", "/usr/bin:/bin"}, {"MAC_SHADOW_MAX_WIDTH", "900"}};
    const LaunchPlan plan = buildLaunchPlan(settings, base);
    corvane::test::TempDir dir;
    const std::string fake = dir.file("server with space");
    corvane::test::writeFile(fake, "#!/bin/sh\nprintf '%s\\n' \"$@\"; env | sort\n");
    ASSERT_EQ(::chmod(fake.c_str(), 0755), 0);
    corvane::test::writeFile(dir.file("plan.sh"), launchPlanCommand(plan, base, fake));
    const auto out = corvane::test::shell("env -i PATH=/usr/bin:/bin MAC_SHADOW_MAX_WIDTH=900 sh " +
                                          dir.file("plan.sh"));
    ASSERT_TRUE(out);
    std::string expected;
    for (const auto& argument : plan.arguments)
        expected += argument + "\n";
    for (const auto& [name, value] : plan.environment)
        if (name != "PWD" && name != "SHLVL" && name != "_")
            expected += name + "=" + value + "\n";
    std::string got;
    std::istringstream lines(*out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("PWD=", 0) != 0 && line.rfind("SHLVL=", 0) != 0 && line.rfind("_=", 0) != 0)
            got += line + "\n";
    EXPECT_EQ(got, expected);
}

TEST(LaunchPlanEnvironment, ControlSocketFollowsTheRuntimeFolderUnlessSet) {
    const struct {
        Environment base;
        std::optional<std::string> control;
    } cases[] = {
        {{{"XDG_RUNTIME_DIR", "/run/user/1000"}}, "/run/user/1000/corvane/control"},
        {{{"XDG_RUNTIME_DIR", "/run/user/1000"}, {"MAC_SHADOW_CONTROL", "/tmp/t/c"}}, "/tmp/t/c"},
        {{{"XDG_RUNTIME_DIR", "relative"}}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(var(buildLaunchPlan(ServerSettings{}, c.base), "MAC_SHADOW_CONTROL"), c.control);
}
