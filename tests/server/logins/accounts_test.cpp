// The account check behind password logins: the sim accounts, the bridge's
// 1/0/-1 answers, and the PAM backend's answer for an unknown account.
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "capture/mac_capture.h"
#include "platform/linux/pam_accounts.h"
#include "platform/sim/sim_accounts.h"
#include "server/core/sim_fixture.h"

using corvane::platform::AccountCheck;
using corvane::platform::sim::SimAccounts;

TEST(SimAccountsList, ParsesEntriesFromTheEnvironmentAndSkipsNamelessOnes) {
    setenv("CORVANE_SIM_ACCOUNTS", "alice:pw:with:colons,bob:,:nobody,garbage,carol:c", 1);
    SimAccounts accounts;
    unsetenv("CORVANE_SIM_ACCOUNTS");
    EXPECT_EQ(accounts.verify("alice", "pw:with:colons").check, AccountCheck::Right);
    EXPECT_EQ(accounts.verify("Alice", "pw:with:colons").check, AccountCheck::Wrong);
    EXPECT_EQ(accounts.verify("carol", "c").check, AccountCheck::Right);
    EXPECT_EQ(accounts.verify("bob", "").check, AccountCheck::Wrong)
        << "empty passwords never pass";
    EXPECT_EQ(accounts.verify("garbage", "").check, AccountCheck::Wrong);
    EXPECT_EQ(accounts.loadList("dave:d,:x"), 1);
}

class AuthVerify : public SimPlatformTest {};

// The bridge's answers: 1 right, 0 wrong (empty input without asking the
// service), -1 when the service cannot be asked, with a line saying so.
TEST_F(AuthVerify, AnswersRightWrongAndUnreachable) {
    sim().simAccounts().set("alice", "s3cret");
    EXPECT_EQ(mac_auth_verify(nullptr, "s3cret"), 0);
    EXPECT_EQ(mac_auth_verify("alice", nullptr), 0);
    EXPECT_EQ(mac_auth_verify("", "s3cret"), 0);
    EXPECT_EQ(mac_auth_verify("alice", ""), 0);
    EXPECT_EQ(sim().simAccounts().checks(), 0);
    EXPECT_EQ(mac_auth_verify("alice", "s3cret"), 1);
    EXPECT_EQ(mac_auth_verify("alice", "S3cret"), 0);
    EXPECT_EQ(mac_auth_verify("nobody", "s3cret"), 0);
    sim().simAccounts().setAvailable(false);
    testing::internal::CaptureStderr();
    EXPECT_EQ(mac_auth_verify("alice", "s3cret"), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("mac_capture: Corvane login check: no directory service (sim 1)"),
              std::string::npos)
        << err;
}

namespace {

// useradd and friends take a lock that other tests may hold for a moment.
bool runRetrying(const std::string& command) {
    for (int i = 0; i < 20; i++) {
        if (std::system(command.c_str()) == 0)
            return true;
        usleep(100000);
    }
    return false;
}

} // namespace

// The real check goes through pam_unix and libcrypt (which a sanitizer build
// has to have loaded up front).
TEST(PamAccounts, RightWrongAndUnknown) {
    corvane::platform::linuxos::PamAccounts pam;
    const auto unknown = pam.verify("corvane-no-such-user-4711", "whatever");
    EXPECT_EQ(unknown.check, AccountCheck::Wrong)
        << "PAM " << unknown.errorDomain << " " << unknown.errorCode;
    EXPECT_EQ(pam.verify("", "x").check, AccountCheck::Wrong);
    if (geteuid() != 0)
        GTEST_SKIP() << "creating a local test account needs root";
    const std::string name = "corvpam" + std::to_string(getpid() % 100000);
    ASSERT_TRUE(runRetrying("/usr/sbin/useradd -M -s /usr/sbin/nologin " + name));
    const bool passwordSet =
        runRetrying("printf '%s:Corv-Pam-1\\n' " + name + " | /usr/sbin/chpasswd");
    const auto right = pam.verify(name, "Corv-Pam-1");
    const auto wrong = pam.verify(name, "Corv-Pam-2");
    runRetrying("/usr/sbin/userdel " + name);
    ASSERT_TRUE(passwordSet);
    EXPECT_EQ(right.check, AccountCheck::Right)
        << "PAM " << right.errorDomain << " " << right.errorCode;
    EXPECT_EQ(wrong.check, AccountCheck::Wrong);
}

// PAM's pam_unix checks other accounts only for root: a server running as
// an ordinary user can let in nobody but that user.
TEST(PamAccountsReach, RootReachesEveryAccountAnOrdinaryUserOnlyItself) {
    const corvane::platform::linuxos::PamAccounts pam;
    const uid_t ordinary = geteuid() == 0 ? 65534 : geteuid();
    const passwd* entry = getpwuid(ordinary);
    ASSERT_TRUE(entry);
    const std::string name = entry->pw_name;
    if (geteuid() == 0) {
        EXPECT_TRUE(pam.reach().everyAccount);
    }
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        if (geteuid() == 0 && setresuid(ordinary, ordinary, ordinary) != 0)
            _exit(2);
        const auto reach = pam.reach();
        const std::string answer = reach.everyAccount ? "every" : reach.onlyAccount;
        _exit(write(fds[1], answer.data(), answer.size()) == static_cast<ssize_t>(answer.size())
                  ? 0
                  : 3);
    }
    close(fds[1]);
    char buffer[256];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    close(fds[0]);
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), name);
}
