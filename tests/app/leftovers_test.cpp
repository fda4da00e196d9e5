// stopLeftovers with real processes: it stops the server this application
// recorded, and nothing else of the same installation.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/core/spawn.h"
#include "child_roles.h"
#include "support.h"

using namespace corvane::app;
namespace fs = std::filesystem;

namespace {

// Copies of sleep standing for servers of one installation.
struct FakeInstall {
    corvane::test::TempDir dir;
    std::string name = "corvane-leftover-" + std::to_string(::getpid());
    std::string server = dir.file(name);
    std::string record = dir.file("state/server.pid");
    FakeInstall() { fs::copy_file("/bin/sleep", server); }
    std::shared_ptr<SpawnedProcess> start() { return Spawn::start(server, {"30"}, {}); }
};

} // namespace

TEST(StopLeftovers, StopsTheRecordedServerButNotOneStartedByHand) {
    FakeInstall install;
    auto recorded = install.start();
    auto byHand = install.start();
    ASSERT_TRUE(Spawn::recordServer(install.record, recorded->pid()));
    EXPECT_EQ(Spawn::stopLeftovers(install.record, "/" + install.name), 1);
    ASSERT_TRUE(recorded->wait(10));
    EXPECT_EQ(recorded->exitCode(), 128 + SIGTERM);
    EXPECT_TRUE(byHand->isRunning());
    EXPECT_FALSE(fs::exists(install.record)) << "the record goes with its server";
    byHand->terminate(5);
}

TEST(StopLeftovers, ARecordThatNoLongerFitsStopsNothing) {
    FakeInstall install;
    auto running = install.start();
    ASSERT_TRUE(Spawn::recordServer(install.record, running->pid()));
    const std::string right = corvane::test::readFile(install.record);
    const std::string pid = std::to_string(running->pid());
    ASSERT_TRUE(Spawn::recordServer(install.dir.file("self.pid"), ::getpid()));
    const std::string self = corvane::test::readFile(install.dir.file("self.pid"));
    const struct {
        const char* what;
        std::string record;
        std::string suffix;
    } cases[] = {
        {"the pid now belongs to a later process", pid + " 1\n", "/" + install.name},
        {"another executable", right, "/corvane-no-such-executable"},
        {"this process itself", self, corvane::test::selfExecutable()},
        {"an empty suffix", right, ""},
        {"no numbers", "garbage\n", "/" + install.name},
        {"no record", "", "/" + install.name},
    };
    for (const auto& c : cases) {
        if (!c.record.empty())
            std::ofstream(install.record) << c.record;
        EXPECT_EQ(Spawn::stopLeftovers(install.record, c.suffix), 0) << c.what;
        EXPECT_TRUE(running->isRunning()) << c.what;
    }
    // Forgetting another pid keeps the record; forgetting its own removes it.
    ASSERT_TRUE(Spawn::recordServer(install.record, running->pid()));
    Spawn::forgetServer(install.record, running->pid() + 1);
    EXPECT_TRUE(fs::exists(install.record));
    Spawn::forgetServer(install.record, running->pid());
    EXPECT_FALSE(fs::exists(install.record));
    running->terminate(5);
}
