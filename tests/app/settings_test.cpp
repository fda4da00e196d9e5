// Settings read from a real settings file: registered defaults, fallbacks,
// the remote-screen migration and the removed security setting.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <regex>

#include <sys/stat.h>
#include <unistd.h>

#include "app/core/app_log.h"
#include "app/core/settings.h"
#include "support.h"

using namespace corvane::app;
using corvane::test::ScopedEnv;

namespace {

class SettingsTest : public corvane::test::AppTest {
  protected:
    ScopedEnv data{"XDG_DATA_HOME", dir.file("data")};
    QString file = QString::fromStdString(dir.file("own.ini"));

    UserDefaults fresh() { return fresh(file); }
    UserDefaults fresh(const QString& path) {
        UserDefaults d(path);
        registerSettingDefaults(d);
        return d;
    }
    // A settings file written from outside; a new name each time, since
    // QSettings keeps files it read in a process-wide cache.
    UserDefaults writtenOutside(const std::string& lines) {
        const std::string path = dir.file("outside" + std::to_string(++outsideFiles) + ".ini");
        corvane::test::writeFile(path, "[General]\n" + lines);
        return fresh(QString::fromStdString(path));
    }
    int outsideFiles = 0;
    ServerSettings read(const UserDefaults& d, std::optional<std::string> login = {}) {
        return currentSettings(d, [login] { return login; });
    }
};

} // namespace

TEST_F(SettingsTest, UnsetKeysGiveTheRegisteredDefaultsWithoutWritingThem) {
    UserDefaults d = fresh();
    ServerSettings s = read(d);
    ServerSettings expected;
    expected.statsFile = dir.file("data/Corvane/server-stats.json");
    expected.connectionLog = dir.file("state/Corvane/connections.jsonl");
    EXPECT_EQ(s, expected);
    EXPECT_TRUE(std::filesystem::exists(dir.file("data/Corvane")));
    EXPECT_TRUE(d.boolean(Key::autoStart));
    EXPECT_TRUE(d.boolean(Key::usagePing));
    d.sync();
    EXPECT_FALSE(d.contains(Key::port));
    EXPECT_FALSE(std::filesystem::exists(dir.file("own.ini")));
}

TEST_F(SettingsTest, StoredValuesSurviveAReopenOfTheFile) {
    {
        UserDefaults d = fresh();
        d.set(Key::port, 4000);
        d.set(Key::scale, 0.5);
        d.set(Key::cursor, true);
        d.set(Key::audio, false);
        d.set(Key::maxSize, 5000000);
        d.set(Key::h264Profile, "high");
        d.set(Key::sizeAlign, 8);
        d.set(Key::h264GopSec, 3);
        d.set(Key::allowedAccounts, "bob, @ops");
        d.set(Key::whenClientConnects, "ask-unless-away");
        d.set(Key::awayIdleMinutes, 12);
        d.set(Key::promptSeconds, 45);
        d.set(Key::lockOnLeave, "off");
        d.sync();
    }
    ServerSettings s = read(fresh(), "alice:0123456789abcdef0123456789abcdef");
    EXPECT_EQ(s.port, 4000);
    EXPECT_DOUBLE_EQ(s.scale, 0.5);
    EXPECT_TRUE(s.cursor);
    EXPECT_FALSE(s.audio);
    EXPECT_EQ(s.maxPixels, 5000000);
    EXPECT_EQ(s.h264Profile, "high");
    EXPECT_EQ(s.sizeAlign, 8);
    EXPECT_EQ(s.h264GopSec, 3);
    EXPECT_EQ(s.allowedAccounts, "bob, @ops");
    EXPECT_EQ(s.whenClientConnects, ConnectPolicy::askUnlessAway);
    EXPECT_EQ(s.awayIdleMinutes, 12);
    EXPECT_EQ(s.promptSeconds, 45);
    EXPECT_EQ(s.lockOnLeave, LockOnLeave::never);
    EXPECT_EQ(s.nlaLogin, "alice:0123456789abcdef0123456789abcdef");
}

TEST_F(SettingsTest, PortOutsideTheUserRangeAndOddValuesFallBack) {
    for (int port : {80, 1023, 70000})
        EXPECT_EQ(settingsPort(port), std::nullopt) << port;
    for (int port : {1024, 65535})
        EXPECT_EQ(settingsPort(port), port);
    UserDefaults d = fresh();
    EXPECT_EQ(read(d).sizeAlign, 2);
    EXPECT_EQ(read(d).h264Profile, "baseline");
    d.set(Key::port, 80);
    EXPECT_EQ(read(d).port, 3389);
    d.set(Key::sizeAlign, 0);
    EXPECT_EQ(read(d).sizeAlign, 0) << "a stored 0 stays 0; the launch plan maps it";
}

// Values written into the file from outside the application, as text.
TEST_F(SettingsTest, TextWrittenFromOutsideReadsLikeThePlatformPreferences) {
    const struct {
        const char* text;
        bool value;
    } flags[] = {{"no", false}, {"NO", false}, {"false", false}, {"FALSE", false},
                 {"0", false},  {"00", false}, {"", false},      {"off", false},
                 {"yes", true}, {"YES", true}, {"true", true},   {"T", true},
                 {"1", true},   {"2", true},   {" y", true},     {"010", true}};
    for (const auto& f : flags) {
        UserDefaults d =
            writtenOutside(std::string("adaptiveFps=") + f.text + "\naudio=" + f.text + "\n");
        const ServerSettings s = read(d);
        EXPECT_EQ(s.adaptiveFps, f.value) << '"' << f.text << '"';
        EXPECT_EQ(s.audio, f.value) << '"' << f.text << '"';
    }
}

TEST_F(SettingsTest, NumbersBeyondTheIntegerRangeAreClampedBeforeConversion) {
    const struct {
        const char* text;
        long long whole;
    } numbers[] = {{"1e30", LLONG_MAX}, {"-1e30", LLONG_MIN}, {"inf", LLONG_MAX},
                   {"-inf", LLONG_MIN}, {"nan", 0},           {"9.3e18", LLONG_MAX},
                   {"2.9", 2},          {"-2.9", -2},         {"9223372036854775807", LLONG_MAX}};
    for (const auto& n : numbers) {
        UserDefaults d =
            writtenOutside(std::string("maxPixels=") + n.text + "\nfps=" + n.text + "\n");
        EXPECT_EQ(d.integer(Key::maxSize), n.whole) << n.text;
        const int fps = n.whole > INT_MAX ? INT_MAX : n.whole < INT_MIN ? INT_MIN : int(n.whole);
        EXPECT_EQ(read(d).fps, fps) << n.text;
    }
    UserDefaults d = fresh();
    d.set(Key::fps, 1e300); // a number stored as a double, not as text
    EXPECT_EQ(read(d).fps, INT_MAX);
}

// "Ask me" is where new users start; whoever set Corvane up before the
// question existed keeps clients coming in as they did.
TEST_F(SettingsTest, ANewSettingsFileAsksAndAnOlderOneKeepsLettingClientsIn) {
    const struct {
        const char* lines; // nullptr: no file yet
        bool stored;
        ConnectPolicy policy;
    } cases[] = {
        {nullptr, true, ConnectPolicy::ask},
        {"", true, ConnectPolicy::ask},
        {"port=4000\n", false, ConnectPolicy::allow},
        {"whenClientConnects=allow\n", false, ConnectPolicy::allow},
        {"whenClientConnects=ask-unless-away\n", false, ConnectPolicy::askUnlessAway},
        {"whenClientConnects=Ask\n", false, ConnectPolicy::ask},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines ? c.lines : "(no file)");
        const std::string path = dir.file("start" + std::to_string(++outsideFiles) + ".ini");
        if (c.lines)
            corvane::test::writeFile(path, std::string("[General]\n") + c.lines);
        {
            UserDefaults d = fresh(QString::fromStdString(path));
            EXPECT_EQ(storeNewFileDefaults(d), c.stored);
            EXPECT_FALSE(storeNewFileDefaults(d)) << "only the first start of a file";
        }
        EXPECT_EQ(read(fresh(QString::fromStdString(path))).whenClientConnects, c.policy);
    }
}

TEST(ConnectChoices, RawValuesAreTheServersAndReadBack) {
    const std::pair<ConnectPolicy, const char*> policies[] = {
        {ConnectPolicy::allow, "allow"},
        {ConnectPolicy::ask, "ask"},
        {ConnectPolicy::askUnlessAway, "ask-unless-away"}};
    for (auto [policy, raw] : policies) {
        EXPECT_EQ(connect_policy::rawValue(policy), raw);
        EXPECT_EQ(connect_policy::fromRaw(raw), policy);
    }
    const std::pair<LockOnLeave, const char*> locks[] = {
        {LockOnLeave::automatic, "auto"}, {LockOnLeave::always, "on"}, {LockOnLeave::never, "off"}};
    for (auto [mode, raw] : locks) {
        EXPECT_EQ(lock_on_leave::rawValue(mode), raw);
        EXPECT_EQ(lock_on_leave::fromRaw(raw), mode);
    }
    EXPECT_EQ(connect_policy::from(std::nullopt), ConnectPolicy::allow);
    EXPECT_EQ(connect_policy::from(""), ConnectPolicy::ask);
    EXPECT_EQ(lock_on_leave::fromRaw("always"), std::nullopt) << "the title is not the value";
}

TEST(RemoteScreenTest, StoredModeWinsOverTheLegacyKey) {
    using remote_screen::from;
    EXPECT_EQ(from("extend", "never"), RemoteScreen::extend);
    EXPECT_EQ(from("real", std::nullopt), RemoteScreen::real);
    EXPECT_EQ(from(std::nullopt, "never"), RemoteScreen::real);
    EXPECT_EQ(from(std::nullopt, "always"), RemoteScreen::extend);
    EXPECT_EQ(from(std::nullopt, "auto"), RemoteScreen::mirror);
    EXPECT_EQ(from(std::nullopt, std::nullopt), RemoteScreen::mirror);
    EXPECT_EQ(from("Mirror", "never"), RemoteScreen::real) << "wrong case is not a raw value";
}

TEST_F(SettingsTest, LegacyVirtualDisplaysKeyIsReadButNeverRemoved) {
    UserDefaults d = fresh();
    d.set(Key::virtualMode, "always");
    EXPECT_EQ(read(d).remoteScreen, RemoteScreen::extend);
    d.set(Key::remoteScreen, "real");
    EXPECT_EQ(read(d).remoteScreen, RemoteScreen::real);
    EXPECT_TRUE(d.contains(Key::virtualMode));
}

// "tls" goes silently; "rdp" is logged once, and nothing on the next launch.
TEST_F(SettingsTest, LegacySecuritySettingIsRemovedAndRdpLoggedOnce) {
    UserDefaults tls = fresh(QString::fromStdString(dir.file("tls.ini")));
    tls.set(Key::sec, "tls");
    EXPECT_FALSE(removeLegacySecuritySetting(tls));
    EXPECT_FALSE(tls.contains(Key::sec));
    EXPECT_EQ(log(), "");
    {
        UserDefaults d = fresh();
        d.set(Key::sec, "rdp");
        d.sync();
    }
    UserDefaults first = fresh();
    EXPECT_TRUE(removeLegacySecuritySetting(first));
    EXPECT_FALSE(first.contains(Key::sec));
    const std::string text = log();
    EXPECT_NE(
        text.find("] [Corvane app] the RDP (legacy) security setting was removed: using TLS\n"),
        std::string::npos)
        << text;
    UserDefaults second = fresh();
    EXPECT_FALSE(removeLegacySecuritySetting(second));
    EXPECT_EQ(log(), text) << "nothing is logged on the next launch";
}

TEST_F(SettingsTest, LogLinesCarryTheTimeAndTheApplicationTag) {
    appendLogLine("hello");
    appendLogLine("again");
    const std::regex line(R"(\[\d\d:\d\d:\d\d\.\d{3}\] \[Corvane app\] hello\n)"
                          R"(\[\d\d:\d\d:\d\d\.\d{3}\] \[Corvane app\] again\n)");
    EXPECT_TRUE(std::regex_match(log(), line)) << log();
}

// The file stays the one Qt's INI format reads and writes: values written by
// QSettings::IniFormat read back the same here, and the other way round.
TEST_F(SettingsTest, TheFileIsReadAndWrittenInQtsIniDialect) {
    const QVariantMap values = {
        {"port", 3390},
        {"scale", 0.57},
        {"cursor", true},
        {"h264Profile", "a, b; c=d \"q\" \\ "},
        {"at", "@home"},
        {"blank", " x "},
        {"empty", ""},
        {"lines", "one\ntwo\tthree"},
        {"name", QString::fromUtf8("Grüße")},
        {"Group/inner", "grouped"},
    };
    const QString byQt = QString::fromStdString(dir.file("by-qt.ini"));
    {
        QSettings qt(byQt, QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            qt.setValue(it.key(), it.value());
    }
    UserDefaults ours(QString::fromStdString(dir.file("ours.ini")));
    for (auto it = values.begin(); it != values.end(); ++it)
        ours.set(it.key(), it.value());
    ours.sync();
    const UserDefaults readByUs(byQt);
    QSettings readByQt(QString::fromStdString(dir.file("ours.ini")), QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it) {
        const QString expected = it.value().toString();
        EXPECT_EQ(readByUs.value(it.key()).toString(), expected) << it.key().toStdString();
        EXPECT_EQ(readByQt.value(it.key()).toString(), expected) << it.key().toStdString();
    }
    EXPECT_EQ(readByUs.integer("port"), 3390);
    EXPECT_DOUBLE_EQ(readByUs.number("scale"), 0.57);
    EXPECT_TRUE(readByUs.boolean("cursor"));
}

// Serialised objects are never deserialised: a few bytes could otherwise make
// the reader ask for gigabytes. Such a key reads as absent.
TEST_F(SettingsTest, SerialisedObjectsInTheFileReadAsAbsent) {
    UserDefaults d = writtenOutside("port=@Variant(\\0\\0\\0\\x7f\\xff\\xff\\xff\\xff)\n"
                                    "fps=@ByteArray(12)\n"
                                    "h264Profile=@Rect(1 2 3 4)\n"
                                    "sizeAlign=@@Variant(x)\n");
    EXPECT_FALSE(d.contains(Key::port));
    EXPECT_FALSE(d.contains(Key::fps));
    const ServerSettings s = read(d);
    EXPECT_EQ(s.port, 3389);
    EXPECT_EQ(s.h264Profile, "baseline");
    EXPECT_EQ(d.string(Key::sizeAlign), "@Variant(x)") << "\"@@\" is an escaped '@'";
}

namespace {
unsigned modeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 0777) : 0xffff;
}
} // namespace

// The log holds account names and addresses: the user's alone, whatever mode
// an older file had.
TEST_F(SettingsTest, TheLogAndItsFoldersAreTheUsersAlone) {
    const std::string older = dir.file("older.log");
    ASSERT_TRUE(corvane::test::writeFile(older, "before\n"));
    ::chmod(older.c_str(), 0644);
    appendLogLineTo(older, "now");
    appendLogLine("hello");
    for (const std::string& path : {dir.file("state"), dir.file("state/Corvane")})
        EXPECT_EQ(modeOf(path), 0700u) << path;
    EXPECT_EQ(modeOf(dir.file("state/Corvane/Corvane.log")), 0600u);
    EXPECT_EQ(modeOf(older), 0600u);
}

// Rotation empties the log in place: a writer that holds it open, as the
// server does, goes on at the start of the now short file.
TEST_F(SettingsTest, TheLogIsRotatedAtItsSizeAndKeepsThreeOlderFiles) {
    const std::string log = dir.file("Corvane.log");
    for (int n = 1; n <= 3; n++)
        ASSERT_TRUE(corvane::test::writeFile(log + "." + std::to_string(n), std::to_string(n)));
    ASSERT_TRUE(corvane::test::writeFile(log, std::string(99, 'x')));
    const int server = openLogForAppend(log);
    ASSERT_GE(server, 0);
    EXPECT_FALSE(rotateLogIfLarge(log, 100)) << "below the limit";
    ASSERT_EQ(::write(server, "y", 1), 1);
    EXPECT_TRUE(rotateLogIfLarge(log, 100));
    ASSERT_EQ(::write(server, "after\n", 6), 6);
    ::close(server);
    EXPECT_EQ(corvane::test::readFile(log), "after\n");
    EXPECT_EQ(corvane::test::readFile(log + ".1"), std::string(99, 'x') + "y");
    EXPECT_EQ(corvane::test::readFile(log + ".2"), "1");
    EXPECT_EQ(corvane::test::readFile(log + ".3"), "2");
    EXPECT_FALSE(std::filesystem::exists(log + ".4"));
    EXPECT_EQ(modeOf(log + ".1"), 0600u);
}
