// Real child processes: exit codes, signals, waits, termination, captured
// output and what the child inherits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "app/core/spawn.h"
#include "support.h"

using namespace corvane::app;
using corvane::test::pumpUntil;

namespace {

const std::map<std::string, std::string> kEnv{{"PATH", "/usr/bin:/bin"}};

std::shared_ptr<SpawnedProcess> startShell(const std::string& script,
                                           std::optional<int> out = std::nullopt) {
    return Spawn::start("/bin/sh", {"-c", script}, kEnv, out, std::nullopt);
}

// Reads from `fd` until `word` arrived (the child's sign that it is ready).
bool readUntil(int fd, const std::string& word) {
    std::string seen;
    char c;
    while (seen.find(word) == std::string::npos && ::read(fd, &c, 1) == 1)
        seen.push_back(c);
    return seen.find(word) != std::string::npos;
}

struct Pipe {
    int fds[2];
    Pipe() { EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0); }
    ~Pipe() {
        closeWrite();
        ::close(fds[0]);
    }
    void closeWrite() {
        if (fds[1] >= 0)
            ::close(fds[1]);
        fds[1] = -1;
    }
};

// A signal mask line ("SigIgn:\t<hex>") of /proc/<pid>/status.
unsigned long long signalSet(const std::string& status, const std::string& name) {
    size_t at = status.find(name + ":\t");
    if (at == std::string::npos)
        return ~0ull;
    return std::stoull(status.substr(at + name.size() + 2, 16), nullptr, 16);
}

} // namespace

// Exit statuses and signal ends are told apart; every wait after the end
// passes, a reaped child gets no signal, and a wait times out while the
// child runs.
TEST(SpawnExit, ExitStatusAndSignalEndsAreReportedApart) {
    auto three = startShell("exit 3");
    ASSERT_TRUE(three->wait(10));
    EXPECT_EQ(three->exitCode(), 3);
    EXPECT_FALSE(three->killedBySignal());
    EXPECT_FALSE(three->isRunning());
    EXPECT_TRUE(three->wait(0));
    EXPECT_TRUE(three->waitExited(0.01));
    EXPECT_FALSE(three->signalIfRunning(SIGTERM));
    three->terminate(0.1);
    EXPECT_EQ(three->exitCode(), 3);

    auto killed = startShell("kill -KILL $$");
    ASSERT_TRUE(killed->wait(10));
    EXPECT_TRUE(killed->killedBySignal());
    EXPECT_EQ(killed->exitCode(), 137);

    auto running = startShell("exec sleep 30");
    EXPECT_FALSE(running->wait(0.2));
    EXPECT_TRUE(running->isRunning());
    running->terminate(5);
    EXPECT_EQ(running->exitCode(), 128 + SIGTERM);
}

TEST(SpawnExit, OnExitRunsOnTheMainThread) {
    corvane::test::ensureApplication();
    auto child = startShell("exit 7");
    int code = -1;
    std::thread::id where;
    child->setOnExit([&](const std::shared_ptr<SpawnedProcess>& p) {
        code = p->exitCode();
        where = std::this_thread::get_id();
    });
    ASSERT_TRUE(pumpUntil([&] { return code != -1; }, 10));
    EXPECT_EQ(code, 7);
    EXPECT_EQ(where, std::this_thread::get_id());
}

// A child ignoring SIGTERM is killed once the grace runs out; one that ends a
// moment after SIGTERM (like the server's orderly end) is given the grace.
TEST(SpawnTerminate, SigtermThenKillAfterTheGrace) {
    const struct {
        const char* trap;
        double grace;
        bool killed;
        int code;
    } cases[] = {{"trap '' TERM", 0.3, true, 128 + SIGKILL},
                 {"trap 'sleep 0.5; exit 0' TERM", 20, false, 0}};
    for (const auto& c : cases) {
        Pipe pipe;
        auto child = startShell(std::string(c.trap) + "; echo ready; while :; do sleep 0.1; done",
                                pipe.fds[1]);
        pipe.closeWrite();
        ASSERT_TRUE(readUntil(pipe.fds[0], "ready"));
        child->terminate(c.grace);
        EXPECT_FALSE(child->isRunning()) << c.trap;
        EXPECT_EQ(child->killedBySignal(), c.killed) << c.trap;
        EXPECT_EQ(child->exitCode(), c.code) << c.trap;
    }
}

TEST(SpawnStart, MissingExecutableThrowsWithTheSystemText) {
    try {
        Spawn::start("/nonexistent/corvane-server", {}, kEnv);
        FAIL() << "no exception";
    } catch (const SpawnFailure& failure) {
        EXPECT_EQ(failure.code(), ENOENT);
        EXPECT_STREQ(failure.what(), "Could not start the server: No such file or directory");
    }
}

TEST(SpawnStart, ChildStartsWithDefaultSignalsAndAnEmptyMask) {
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGUSR2, &ignore, &previous);
    sigset_t block, oldMask;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &block, &oldMask);

    auto status = Spawn::output("/bin/cat", {"/proc/self/status"}, kEnv, 10);

    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    sigaction(SIGUSR2, &previous, nullptr);
    ASSERT_TRUE(status);
    EXPECT_EQ(signalSet(*status, "SigBlk"), 0u) << *status;
    // glibc keeps its two internal signals (32 and 33) away from every
    // signal set and leaves them ignored across posix_spawn; no program can
    // use them. Every other signal must be back at its default.
    const unsigned long long glibcInternal = (1ull << 31) | (1ull << 32);
    EXPECT_EQ(signalSet(*status, "SigIgn") & ~glibcInternal, 0u) << *status;
}

// Exactly the arguments and environment given, and no other descriptor.
TEST(SpawnStart, OnlyTheArgumentsEnvironmentAndDescriptorsGivenReachTheChild) {
    int leaked = ::dup(STDERR_FILENO); // not close-on-exec
    ASSERT_GE(leaked, 3);
    auto out = Spawn::output("/bin/sh",
                             {"-c",
                              "printf '%s|%s|%s|' \"$1\" \"$ONE\" \"$HOME\"; test -e /proc/$$/fd/" +
                                  std::to_string(leaked) + " && echo open || echo closed",
                              "sh", "two words"},
                             {{"ONE", "1=one"}}, 10);
    ::close(leaked);
    EXPECT_EQ(out, "two words|1=one||closed\n");
}

TEST(SpawnStart, OutputsGoToDevNullOrTheGivenDescriptors) {
    corvane::test::TempDir dir;
    // posix_spawn returns once the child has run exec, so its descriptors
    // can be read from outside right away.
    auto quiet = Spawn::start("/bin/sleep", {"30"}, kEnv);
    std::string fds = "/proc/" + std::to_string(quiet->pid()) + "/fd/";
    for (const char* fd : {"0", "1", "2"})
        EXPECT_EQ(std::filesystem::read_symlink(fds + fd).string(), "/dev/null") << fd;
    quiet->terminate(5);

    int log = ::open(dir.file("log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    auto both = Spawn::start("/bin/sh", {"-c", "echo out; echo err >&2"}, kEnv, log, log);
    ::close(log);
    ASSERT_TRUE(both->wait(10));
    EXPECT_EQ(corvane::test::readFile(dir.file("log")), "out\nerr\n");
}

TEST(SpawnOutput, CapturesStandardOutputOnly) {
    EXPECT_EQ(Spawn::output("/bin/sh", {"-c", "echo screen=1 input=0; echo noise >&2"}, kEnv, 10),
              "screen=1 input=0\n");
    EXPECT_EQ(Spawn::output("/bin/sh", {"-c", "exit 4"}, kEnv, 10), "");
    EXPECT_EQ(Spawn::output("/nonexistent/probe", {}, kEnv, 10), std::nullopt);
}

// An overdue child is ended (killed when it ignores SIGTERM) and reaped,
// and gives nothing, whatever it printed.
TEST(SpawnOutput, OverdueChildIsStoppedAndGivesNothing) {
    for (const std::string trap : {"", "trap '' TERM; "}) {
        corvane::test::TempDir dir;
        const std::string pidFile = dir.file("pid");
        auto out = Spawn::output(
            "/bin/sh",
            {"-c", trap + "echo partial; echo $$ > " + pidFile + "; while :; do sleep 0.1; done"},
            kEnv, 0.5);
        EXPECT_EQ(out, std::nullopt) << trap;
        pid_t pid = std::atoi(corvane::test::readFile(pidFile).c_str());
        ASSERT_GT(pid, 0);
        EXPECT_EQ(::kill(pid, 0), -1) << trap << ": the child was ended and reaped";
        EXPECT_EQ(errno, ESRCH);
    }
}
