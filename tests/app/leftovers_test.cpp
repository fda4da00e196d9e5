// stopLeftovers with real processes: it stops other processes whose
// executable ends with the suffix and never the process that calls it.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "app/core/spawn.h"
#include "child_roles.h"
#include "support.h"

using namespace corvane::app;
namespace fs = std::filesystem;

TEST(StopLeftovers, StopsTheOtherServerButNeverItself) {
    corvane::test::TempDir dir;
    // Two executables ending in the same unique name: a copy of this test
    // binary that calls stopLeftovers, and a copy of sleep standing for a
    // server left over from an earlier run.
    std::string name = "corvane-leftover-" + std::to_string(::getpid());
    fs::create_directories(dir.file("caller"));
    fs::create_directories(dir.file("server"));
    std::string caller = dir.file("caller/" + name);
    std::string server = dir.file("server/" + name);
    fs::copy_file(corvane::test::selfExecutable(), caller);
    fs::copy_file("/bin/sleep", server);

    auto leftover = Spawn::start(server, {"30"}, {});
    auto stopper = Spawn::start(
        caller, {}, {{"CORVANE_TEST_ROLE", "stop-leftovers"}, {"CORVANE_TEST_SUFFIX", "/" + name}});
    ASSERT_TRUE(stopper->wait(30));
    EXPECT_FALSE(stopper->killedBySignal()) << "the caller signalled itself";
    EXPECT_EQ(stopper->exitCode(), 1) << "found exactly the one leftover";
    ASSERT_TRUE(leftover->wait(10));
    EXPECT_EQ(leftover->exitCode(), 128 + SIGTERM);
}

TEST(StopLeftovers, NothingMatchingAndAnEmptySuffixFindNothing) {
    auto bystander = Spawn::start("/bin/sleep", {"30"}, {});
    EXPECT_EQ(Spawn::stopLeftovers("/corvane-no-such-executable-" + std::to_string(::getpid())), 0);
    EXPECT_EQ(Spawn::stopLeftovers(""), 0);
    EXPECT_TRUE(bystander->isRunning());
    bystander->terminate(5);
}
