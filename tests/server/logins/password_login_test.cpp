// Password logins over the sim accounts: the account check, the one-second
// waits, the error infos, and the lockout that grows with wrong passwords.
#include <freerdp/error.h>
#include <freerdp/settings.h>

#include "login_fixture.h"

using namespace login_test;

namespace {

constexpr const char* kAddress = "192.0.2.7";

class PasswordLogin : public LoginTest {
  protected:
    void SetUp() override {
        LoginTest::SetUp();
        accounts().set("alice", "right-pw");
        conn_ = connect(kAddress);
        ASSERT_NE(conn_, nullptr);
    }
    int login(const char* user, const char* password, const char* domain = nullptr) {
        return mac_shadow_authenticate(subsystem(), &conn_->client, user, domain, password);
    }
    int failures(const char* address = kAddress) {
        return mac_logic_lockout_failures(&record()->lockoutTable, address);
    }
    FakeConnection* conn_ = nullptr;
};

} // namespace

TEST_F(PasswordLogin, RightPasswordLogsInWithoutWaiting) {
    EXPECT_EQ(login("alice", "right-pw"), 1);
    EXPECT_EQ(waits(), 0);
    EXPECT_EQ(errorInfo(conn_), 0u);
    EXPECT_EQ(
        LogCapture::count("[INFO] mac_shadow_authenticate: login from 192.0.2.7 as 'alice': ok"), 1)
        << LogCapture::all();
}

TEST_F(PasswordLogin, AttemptLineCarriesLengthsAndClientInfoButNeverThePassword) {
    freerdp_settings_set_uint32(conn_->settings, FreeRDP_OsMajorType, 1);
    freerdp_settings_set_uint32(conn_->settings, FreeRDP_OsMinorType, 3);
    freerdp_settings_set_uint32(conn_->settings, FreeRDP_ClientBuild, 2600);
    freerdp_settings_set_uint32(conn_->settings, FreeRDP_RequestedProtocols, 3);
    login("CORP\\alice", "right-pw", "CORP");
    EXPECT_TRUE(LogCapture::has(
        "login attempt from 192.0.2.7: user 'CORP\\alice' (10 chars), domain 'CORP', password 8 "
        "chars, client os 1.3 build 2600, requested protocols 0x3"))
        << LogCapture::all();
    EXPECT_EQ(LogCapture::all().find("right-pw"), std::string::npos);
}

TEST_F(PasswordLogin, ControlCharactersInTheUserNameCannotForgeLogLines) {
    login("bob\n[WARN] forged", "x");
    const std::string log = LogCapture::all();
    EXPECT_EQ(log.find("bob\n"), std::string::npos);
    EXPECT_NE(log.find("user 'bob?[WARN] forged'"), std::string::npos) << log;
}

TEST_F(PasswordLogin, DomainPrefixHostSuffixAndBlanksNameTheSameAccount) {
    EXPECT_EQ(login("CORP\\alice", "right-pw"), 1);
    EXPECT_EQ(login("alice@mac.local", "right-pw"), 1);
    EXPECT_EQ(login(" \talice  ", "right-pw"), 1);
    EXPECT_EQ(LogCapture::count("as 'alice': ok"), 3) << LogCapture::all();
}

TEST_F(PasswordLogin, UnusableNameCountsAsWrongWithoutAskingTheService) {
    const int checksBefore = accounts().checks();
    EXPECT_EQ(login("@host", "right-pw"), -1);
    EXPECT_EQ(login("   ", "right-pw"), -1);
    EXPECT_EQ(accounts().checks(), checksBefore);
    EXPECT_EQ(failures(), 2);
    EXPECT_TRUE(LogCapture::has("login from 192.0.2.7 as '': wrong password (2)"))
        << LogCapture::all();
}

TEST_F(PasswordLogin, WrongPasswordWaitsSetsErrorInfo9AndCounts) {
    EXPECT_EQ(login("alice", "nope"), -1);
    EXPECT_EQ(waits(), 1);
    EXPECT_EQ(errorInfo(conn_), static_cast<UINT32>(ERRINFO_SERVER_INSUFFICIENT_PRIVILEGES));
    EXPECT_EQ(failures(), 1);
    EXPECT_TRUE(LogCapture::has("[WARN] mac_shadow_authenticate: login from 192.0.2.7 as 'alice': "
                                "wrong password (1)"))
        << LogCapture::all();
}

TEST_F(PasswordLogin, ThirdWrongPasswordLocksAndLockRefusesWithoutAccountCheck) {
    login("alice", "a");
    login("alice", "b");
    EXPECT_EQ(login("alice", "c"), -1);
    EXPECT_TRUE(LogCapture::has("login from 192.0.2.7 as 'alice': wrong password (3 in a row): "
                                "locked out for 30 s"))
        << LogCapture::all();

    LogCapture::clear();
    advance(500);
    const int checksBefore = accounts().checks();
    const int waitsBefore = waits();
    EXPECT_EQ(login("alice", "right-pw"), -1);
    EXPECT_EQ(accounts().checks(), checksBefore) << "a locked address is not checked";
    EXPECT_EQ(waits(), waitsBefore + 1);
    EXPECT_EQ(errorInfo(conn_), static_cast<UINT32>(ERRINFO_SERVER_INSUFFICIENT_PRIVILEGES));
    EXPECT_TRUE(LogCapture::has(
        "login from 192.0.2.7 refused: locked out for another 30 s after wrong passwords"))
        << LogCapture::all();
    EXPECT_EQ(LogCapture::lines().size(), 1u) << "nothing else is logged: " << LogCapture::all();
    EXPECT_EQ(failures(), 3) << "a refusal during the lock is not a wrong password";
}

TEST_F(PasswordLogin, AfterTheLockTheRightPasswordWorksAndFreesTheEntry) {
    login("alice", "a");
    login("alice", "b");
    login("alice", "c");
    advance(29'999);
    EXPECT_EQ(login("alice", "right-pw"), -1);
    EXPECT_TRUE(LogCapture::has("locked out for another 1 s")) << LogCapture::all();
    advance(1);
    EXPECT_EQ(login("alice", "right-pw"), 1);
    EXPECT_EQ(failures(), 0);
    for (const MacLockoutEntry& e : record()->lockoutTable.entries)
        EXPECT_STRNE(e.address, kAddress) << "the entry is freed";
}

TEST_F(PasswordLogin, LockoutsGrowWithWrongPasswordsInARow) {
    const uint64_t expected[] = {0, 0, 30, 60, 120, 240, 480, 900, 900};
    for (int i = 0; i < 9; i++) {
        LogCapture::clear();
        login("alice", "wrong");
        if (expected[i] == 0)
            EXPECT_TRUE(LogCapture::has("wrong password (" + std::to_string(i + 1) + ")"));
        else
            EXPECT_TRUE(LogCapture::has("wrong password (" + std::to_string(i + 1) +
                                        " in a row): locked out for " +
                                        std::to_string(expected[i]) + " s"))
                << i << ": " << LogCapture::all();
        advance(expected[i] * 1000);
    }
}

TEST_F(PasswordLogin, MissingPasswordGetsErrorInfo10AndIsNotCounted) {
    EXPECT_EQ(login("CORP\\alice", nullptr), -1);
    EXPECT_EQ(errorInfo(conn_), static_cast<UINT32>(ERRINFO_SERVER_FRESH_CREDENTIALS_REQUIRED));
    EXPECT_EQ(login("alice", ""), -1);
    EXPECT_EQ(waits(), 2);
    EXPECT_EQ(failures(), 0);
    EXPECT_TRUE(LogCapture::has("login from 192.0.2.7 as 'alice': refused, the client sent no "
                                "password. (Windows App on Windows"))
        << LogCapture::all();
}

TEST_F(PasswordLogin, UnavailableServiceIsAnErrorAndCountsAsWrong) {
    accounts().setAvailable(false);
    EXPECT_EQ(login("alice", "right-pw"), -1);
    EXPECT_EQ(failures(), 1);
    EXPECT_TRUE(LogCapture::has(
        "[ERROR] mac_shadow_authenticate: login from 192.0.2.7 as 'alice': could not ask the "
        "directory service"))
        << LogCapture::all();
}

TEST_F(PasswordLogin, WrongPasswordAnHourLaterCountsAsTheFirstAgain) {
    login("alice", "a");
    login("alice", "b");
    advance(61 * 60 * 1000);
    LogCapture::clear();
    login("alice", "c");
    EXPECT_TRUE(LogCapture::has("as 'alice': wrong password (1)")) << LogCapture::all();
    EXPECT_EQ(failures(), 1);
}

TEST_F(PasswordLogin, MissingSubsystemOrClientIsRefused) {
    EXPECT_EQ(mac_shadow_authenticate(nullptr, &conn_->client, "alice", nullptr, "right-pw"), -1);
    EXPECT_EQ(mac_shadow_authenticate(subsystem(), nullptr, "alice", nullptr, "right-pw"), -1);
}

TEST_F(PasswordLogin, EmptyHostNameIsTrackedAsQuestionMark) {
    conn_->peer.hostname[0] = '\0';
    login("alice", "wrong");
    EXPECT_EQ(failures("?"), 1);
    EXPECT_TRUE(LogCapture::has("login from ? as 'alice': wrong password (1)"))
        << LogCapture::all();
}

TEST_F(PasswordLogin, AddressOf64CharactersIsNeverLockedOut) {
    const std::string longAddress(64, 'a');
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(mac_login::authenticate(record(), &conn_->client, longAddress.c_str(), "alice",
                                          nullptr, "wrong"),
                  -1);
    EXPECT_EQ(mac_login::authenticate(record(), &conn_->client, longAddress.c_str(), "alice",
                                      nullptr, "right-pw"),
              1);
    EXPECT_FALSE(LogCapture::has("locked out")) << LogCapture::all();
    const std::string sixtyThree(63, 'b');
    for (int i = 0; i < 3; i++)
        mac_login::authenticate(record(), &conn_->client, sixtyThree.c_str(), "alice", nullptr,
                                "wrong");
    EXPECT_TRUE(LogCapture::has("locked out for 30 s")) << "63 characters are still tracked";
}
