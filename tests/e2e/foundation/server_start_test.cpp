// The server executable: the permission probe, what it says at start about
// who can get in, its private key, and the end with its parent.
#include <csignal>
#include <cstdlib>
#include <sstream>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "e2e_session.h"

using namespace e2e;

namespace {

const std::string kNoPidfd = CORVANE_NO_PIDFD_BIN;

struct ProbeResult {
    std::optional<int> status;
    std::string out;
};

ProbeResult runProbe(std::map<std::string, std::string> env, const TempDir& dir) {
    Process probe;
    probe.start({kServerBin, "/port:33895"}, env, dir.file("probe.out"), dir.file("probe.err"));
    ProbeResult r;
    r.status = probe.waitExit(15000ms);
    r.out = readFile(dir.file("probe.out"));
    return r;
}

// The sim desktop: a full server run without an X server.
const Env kSim = {{"CORVANE_PLATFORM", "sim"}, {"CORVANE_SIM_MAIN_DISPLAY", "1024x768@1"}};

Env simServerEnv(const TempDir& dir) {
    return merged(isolatedServerEnv(dir, ""), kSim);
}

// Whether the process has a handler of its own for the signal.
bool catches(pid_t pid, int signal) {
    std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
    return false;
}

unsigned modeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xffff;
}

} // namespace

TEST(PermissionProbe, CertificateKeyAndItsFolderArePrivate) {
    TempDir dir;
    const mode_t previous = umask(022);
    auto env = simServerEnv(dir);
    env["MAC_SHADOW_PERMS"] = "check";
    const std::string folder = dir.file("config/freerdp/shadow");
    ASSERT_EQ(runProbe(env, dir).status, std::optional<int>(0));
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder + "/shadow.key"), 0600u);
    EXPECT_NE(modeOf(folder + "/shadow.crt"), 0xffffu) << "the library made the pair";

    // Files left open by an earlier run are made private again.
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
    ASSERT_EQ(chmod((folder + "/shadow.key").c_str(), 0644), 0);
    ASSERT_EQ(runProbe(env, dir).status, std::optional<int>(0));
    umask(previous);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder + "/shadow.key"), 0600u);
}

TEST(ServerStart, SaysWhoCanGetIn) {
    const char* const openWarning = "NO AUTHENTICATION (-auth) on a network address";
    const char* const everyAccount =
        "password logins: allowed for the server's own account 'owner' and the members of group "
        "'admin'";
    const struct {
        std::vector<std::string> args;
        bool warned;
        bool accountsLine;
    } cases[] = {
        {{"-auth", "/sec:tls"}, true, false},
        {{"-auth", "/sec:tls", "/bind-address:127.0.0.1"}, false, false},
        {{"+auth", "/sec:tls"}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        Session s(suites::foundation, "");
        ASSERT_TRUE(s.ok() && s.startServer(c.args, kSim));
        ASSERT_TRUE(s.serverSays("Screen Recording permission", 10000ms));
        // The server says its permissions before it takes SIGTERM over.
        ASSERT_TRUE(waitUntil([&] { return catches(s.server().pid(), SIGTERM); }, 10000ms));
        s.server().signal(SIGTERM);
        EXPECT_EQ(s.server().waitExit(10000ms), std::optional<int>(0));
        EXPECT_EQ(s.logCount(openWarning) > 0, c.warned);
        EXPECT_EQ(s.logCount(everyAccount) > 0, c.accountsLine);
    }
}

// The server ends with status 0 once the app that started it is gone, also
// where pidfd_open is refused: it then watches its parent's process id
// instead of taking the refusal for the parent's end.
TEST(ParentWatch, ServerEndsWithItsParentWithOrWithoutPidfd) {
    // Orphans are handed to this process, so the server's status can be read.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    Slot slot(suites::foundation);
    ASSERT_TRUE(slot.ok());
    for (const bool pidfd : {true, false}) {
        TempDir dir;
        auto env = simServerEnv(dir);
        env["MAC_SHADOW_PARENT_WATCH"] = "1";
        const std::string log = dir.file("server.log");
        Process parent;
        const std::string port = "/port:" + std::to_string(slot.port());
        const std::string script =
            pidfd ? "\"$0\" " + port + " +auth /sec:tls & echo $! > \"$1\"; sleep 60"
                  : "\"$0\" \"$1\" " + port + " +auth /sec:tls & echo $! > \"$2\"; sleep 60";
        std::vector<std::string> argv = {"sh", "-c", script, kServerBin, dir.file("pid")};
        if (!pidfd)
            argv.insert(argv.begin() + 3, kNoPidfd);
        ASSERT_TRUE(parent.start(argv, env, log, log));
        // The watch is set up (and said) after the permission lines.
        ASSERT_TRUE(waitUntil([&] { return fileContains(log, "parent watch: process"); }, 10000ms))
            << readFile(log);
        const pid_t server = std::atoi(readFile(dir.file("pid")).c_str());
        ASSERT_GT(server, 1);
        EXPECT_EQ(fileContains(log, "by checking the parent process id every 1000 ms "
                                    "(pidfd_open is unavailable: Function not implemented)"),
                  !pidfd)
            << readFile(log);
        EXPECT_FALSE(fileContains(log, "the Corvane app is gone")) << "the parent still runs";
        EXPECT_EQ(kill(server, 0), 0) << "the server still runs";

        parent.signal(SIGKILL);
        ASSERT_TRUE(parent.waitExit(5000ms));
        int status = -1;
        const bool ended =
            waitUntil([&] { return waitpid(server, &status, WNOHANG) == server; }, 10000ms);
        if (!ended)
            kill(server, SIGKILL);
        ASSERT_TRUE(ended);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_TRUE(fileContains(log, "the Corvane app is gone: stopping")) << readFile(log);
        EXPECT_TRUE(fileContains(log, "the Corvane app is gone: server exiting"));
    }
}

// The probe prints exactly one line: the X server's answer, nothing without
// a display, the sim privacy database's answer, and only an exact "request"
// asks first (the simulated user agrees to both prompts).
TEST(PermissionProbe, AnswersForTheDesktopItRunsOn) {
    Slot slot(suites::foundation);
    Xvfb x(slot.display(0), "1024x768x24");
    ASSERT_TRUE(slot.ok() && x.ok());
    const struct {
        const char* what;
        std::string display;
        const char* privacyDb; // null: the X11 platform
        const char* mode;
        const char* line;
    } cases[] = {
        {"Xvfb", x.name(), nullptr, "check", "screen=1 input=1\n"},
        {"no X server", ":" + std::to_string(slot.display(1)), nullptr, "check",
         "screen=0 input=0\n"},
        {"sim, Accessibility denied", "",
         "com.corvane.shadow ScreenCapture granted\ncom.corvane.shadow Accessibility denied\n",
         "check", "screen=1 input=0\n"},
        {"sim, another case only checks", "", "", "Request", "screen=0 input=0\n"},
        {"sim, request", "", "", "request", "screen=1 input=1\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        auto env = isolatedServerEnv(dir, c.display);
        env["MAC_SHADOW_PERMS"] = c.mode;
        if (c.privacyDb) {
            ASSERT_TRUE(writeFile(dir.file("privacy.db"), c.privacyDb));
            env["CORVANE_PLATFORM"] = "sim";
            env["CORVANE_SIM_PRIVACY_DB"] = dir.file("privacy.db");
        }
        const ProbeResult r = runProbe(env, dir);
        ASSERT_EQ(r.status, std::optional<int>(0)) << c.what;
        EXPECT_EQ(r.out, c.line) << c.what;
    }
}

// A misspelt backend stops the start with a clear error instead of serving
// the stand-in desktop.
TEST(PermissionProbe, AnUnknownBackendIsAnErrorAtStart) {
    TempDir dir;
    auto env = isolatedServerEnv(dir, "");
    env["MAC_SHADOW_PERMS"] = "check";
    env["CORVANE_PLATFORM"] = "x1l";
    const ProbeResult r = runProbe(env, dir);
    EXPECT_EQ(r.status, std::optional<int>(2));
    EXPECT_EQ(r.out, "") << "no answer from a platform that was not chosen";
    EXPECT_TRUE(fileContains(dir.file("probe.err"), "unknown backend 'x1l' in CORVANE_PLATFORM"))
        << readFile(dir.file("probe.err"));
}
