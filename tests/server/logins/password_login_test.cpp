// Password logins over the sim accounts: the account check, the one-second
// waits, the error infos, and the lockout that grows with wrong passwords.
// (The table's own rules, stale entries and full tables, are in
// tests/server/logic.)
#include <freerdp/error.h>
#include <freerdp/settings.h>

#include "login_fixture.h"

using namespace login_test;

namespace {

constexpr const char* kAddress = "192.0.2.7";
constexpr UINT32 kWrongInfo = ERRINFO_SERVER_INSUFFICIENT_PRIVILEGES;

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

TEST_F(PasswordLogin, RightPasswordUnderAnySpellingOfTheAccountLogsInWithoutWaiting) {
    for (const char* user : {"alice", "CORP\\alice", "alice@mac.local", " \talice  "})
        EXPECT_EQ(login(user, "right-pw"), 1) << user;
    EXPECT_EQ(waits(), 0);
    EXPECT_EQ(errorInfo(conn_), 0u);
    EXPECT_EQ(
        LogCapture::count("[INFO] mac_shadow_authenticate: login from 192.0.2.7 as 'alice': ok"), 4)
        << LogCapture::all();
}

TEST_F(PasswordLogin, AttemptLineCarriesLengthsAndClientInfoButNeverThePassword) {
    freerdp_settings_set_uint32(conn_->settings, FreeRDP_OsMajorType, 1);
    freerdp_settings_set_uint32(conn_->settings, FreeRDP_OsMinorType, 3);
    freerdp_settings_set_uint32(conn_->settings, FreeRDP_ClientBuild, 2600);
    freerdp_settings_set_uint32(conn_->settings, FreeRDP_RequestedProtocols, 3);
    login("CORP\\alice", "right-pw", "CORP");
    login("bob\n[WARN] forged", "x");
    const std::string log = LogCapture::all();
    EXPECT_NE(log.find("login attempt from 192.0.2.7: user 'CORP\\alice' (10 chars), domain "
                       "'CORP', password 8 chars, client os 1.3 build 2600, requested protocols "
                       "0x3"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("right-pw"), std::string::npos);
    EXPECT_EQ(log.find("bob\n"), std::string::npos) << "control characters cannot forge lines";
    EXPECT_NE(log.find("user 'bob?[WARN] forged'"), std::string::npos) << log;
}

// Every refusal waits one second and sets an error info; only wrong
// passwords (also unusable names and an unreachable service) are counted.
TEST_F(PasswordLogin, RefusalsWaitSetTheirErrorInfoAndCountOnlyWrongPasswords) {
    const struct {
        const char* user;
        const char* password;
        bool serviceUp;
        bool asked;
        UINT32 info;
        int failures;
        const char* line;
    } cases[] = {
        {"alice", "nope", true, true, kWrongInfo, 1,
         "[WARN] mac_shadow_authenticate: login from 192.0.2.7 as 'alice': wrong password (1)"},
        {"@host", "right-pw", true, false, kWrongInfo, 1, "as '': wrong password (1)"},
        {"CORP\\alice", nullptr, true, false, ERRINFO_SERVER_FRESH_CREDENTIALS_REQUIRED, 0,
         "as 'alice': refused, the client sent no password. (Windows App on Windows"},
        {"alice", "", true, false, ERRINFO_SERVER_FRESH_CREDENTIALS_REQUIRED, 0,
         "refused, the client sent no password"},
        {"alice", "right-pw", false, true, kWrongInfo, 1,
         "[ERROR] mac_shadow_authenticate: login from 192.0.2.7 as 'alice': could not ask the "
         "directory service"},
    };
    for (const auto& c : cases) {
        mac_login_reset_process_state_for_tests();
        mac_logic_lockout_clear(&record()->lockoutTable, kAddress);
        accounts().setAvailable(c.serviceUp);
        LogCapture::clear();
        const int waitsBefore = waits();
        const int checksBefore = accounts().checks();
        EXPECT_EQ(login(c.user, c.password), -1) << c.user;
        EXPECT_EQ(waits(), waitsBefore + 1) << c.user;
        EXPECT_EQ(errorInfo(conn_), c.info) << c.user;
        EXPECT_EQ(failures(), c.failures) << c.user;
        EXPECT_TRUE(LogCapture::has(c.line)) << c.user;
        if (!c.asked) {
            EXPECT_EQ(accounts().checks(), checksBefore) << c.user << " is not asked about";
        }
    }
}

TEST_F(PasswordLogin, LockRefusesWithoutAccountCheckUntilItEndsAndAGoodLoginFreesTheEntry) {
    login("alice", "a");
    login("alice", "b");
    EXPECT_EQ(login("alice", "c"), -1);
    EXPECT_TRUE(LogCapture::has("login from 192.0.2.7 as 'alice': wrong password (3 in a row): "
                                "locked out for 30 s"));

    LogCapture::clear();
    advance(500);
    const int checksBefore = accounts().checks();
    const int waitsBefore = waits();
    EXPECT_EQ(login("alice", "right-pw"), -1);
    EXPECT_EQ(accounts().checks(), checksBefore) << "a locked address is not checked";
    EXPECT_EQ(waits(), waitsBefore + 1);
    EXPECT_EQ(errorInfo(conn_), kWrongInfo);
    EXPECT_TRUE(LogCapture::has(
        "login from 192.0.2.7 refused: locked out for another 30 s after wrong passwords"));
    EXPECT_EQ(LogCapture::lines().size(), 1u) << "nothing else is logged: " << LogCapture::all();
    EXPECT_EQ(failures(), 3) << "a refusal during the lock is not a wrong password";

    advance(29'499);
    EXPECT_EQ(login("alice", "right-pw"), -1);
    EXPECT_TRUE(LogCapture::has("locked out for another 1 s"));
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
        const std::string count = "wrong password (" + std::to_string(i + 1);
        EXPECT_TRUE(LogCapture::has(expected[i] == 0 ? count + ")"
                                                     : count + " in a row): locked out for " +
                                                           std::to_string(expected[i]) + " s"))
            << i;
        advance(expected[i] * 1000);
    }
}

TEST_F(PasswordLogin, MissingPiecesAreRefusedAndAnEmptyHostNameIsTrackedAsQuestionMark) {
    EXPECT_EQ(mac_shadow_authenticate(nullptr, &conn_->client, "alice", nullptr, "right-pw"), -1);
    EXPECT_EQ(mac_shadow_authenticate(subsystem(), nullptr, "alice", nullptr, "right-pw"), -1);
    conn_->peer.hostname[0] = '\0';
    login("alice", "wrong");
    EXPECT_EQ(failures("?"), 1);
    EXPECT_TRUE(LogCapture::has("login from ? as 'alice': wrong password (1)"));
}

// Guesses spread over many addresses lock the account, for a short time, and
// never for an address the account logged in from before.
TEST_F(PasswordLogin, GuessesFromManyAddressesLockTheAccountButNotItsOwner) {
    accounts().set("bob", "bob-pw");
    ASSERT_EQ(login("alice", "right-pw"), 1);
    auto from = [this](const std::string& address, const char* user, const char* password) {
        FakeConnection* c = connect(address);
        return c ? mac_shadow_authenticate(subsystem(), &c->client, user, nullptr, password) : 0;
    };
    for (int i = 0; i < MAC_ACCOUNT_FAILURES; i++)
        EXPECT_EQ(from("198.51.100." + std::to_string(i), "alice", "guess"), -1);
    EXPECT_TRUE(LogCapture::has("account 'alice': 10 wrong passwords within 10 minutes from any "
                                "address: its password logins are refused for 30 s"));

    const int checksBefore = accounts().checks();
    EXPECT_EQ(from("203.0.113.1", "alice", "right-pw"), -1);
    EXPECT_EQ(accounts().checks(), checksBefore) << "a locked account is not checked";
    EXPECT_TRUE(LogCapture::has("login from 203.0.113.1 as 'alice' refused: the account is locked "
                                "for another 30 s after wrong passwords from several addresses"));
    EXPECT_EQ(failures("203.0.113.1"), 0) << "not a wrong password of that address";
    EXPECT_EQ(login("alice", "right-pw"), 1) << "the owner's address";
    EXPECT_EQ(from("203.0.113.2", "bob", "bob-pw"), 1) << "other accounts";
    advance(MAC_ACCOUNT_LOCK_FIRST_MS);
    EXPECT_EQ(from("203.0.113.3", "alice", "right-pw"), 1);
}

// With every lockout entry holding a lock, a new address counts as locked,
// and the log says why.
TEST_F(PasswordLogin, AFullLockoutTableRefusesNewAddressesAsLocked) {
    for (MacLockoutEntry& e : record()->lockoutTable.entries) {
        std::snprintf(e.address, sizeof e.address, "10.9.%u.%u",
                      static_cast<unsigned>((&e - record()->lockoutTable.entries) / 256),
                      static_cast<unsigned>((&e - record()->lockoutTable.entries) % 256));
        e.failures = 5;
        e.lastFailureTick = now();
        e.lockedUntil = now() + 120000;
    }
    const int checksBefore = accounts().checks();
    EXPECT_EQ(login("alice", "right-pw"), -1);
    EXPECT_EQ(accounts().checks(), checksBefore);
    EXPECT_TRUE(LogCapture::has("login from 192.0.2.7 refused: every lockout entry holds a lock, "
                                "so a new address counts as locked for another 3601 s"));
}

// Accounts the rule does not allow get the wait, answer and count of a wrong
// password, without their password being checked; the log names the rule.
TEST_F(PasswordLogin, AccountsTheRuleRefusesReadAsWrongPasswords) {
    accounts().set("bob", "bob-pw");
    accounts().set("carol", "carol-pw");
    accounts().set("dave", "dave-pw");
    accounts().setGroup("ops", {"carol"});
    const struct {
        const char* rule;
        const char* user;
        const char* password;
        const char* line; // "" = logged in
    } cases[] = {
        {nullptr, "alice", "right-pw", "as 'alice': ok (allowed as 'alice')"},
        {nullptr, "bob", "bob-pw", "as 'bob': ok (allowed as 'admin')"},
        {nullptr, "carol", "carol-pw",
         "as 'carol': refused, not an allowed account (password logins are for the server's own "
         "account 'alice' and the members of group 'admin') (1 in a row)"},
        {"dave, @ops", "carol", "carol-pw", "as 'carol': ok (allowed as '@ops')"},
        {"dave, @ops", "dave", "dave-pw", "as 'dave': ok (allowed as 'dave')"},
        {"dave, @ops", "alice", "right-pw",
         "as 'alice': refused, not an allowed account (password logins are for 'dave', the "
         "members of group 'ops') (1 in a row)"},
        {"@gone", "carol", "carol-pw",
         "refused, not an allowed account (password logins are for the members of group 'gone' "
         "(no such group))"},
    };
    for (const auto& c : cases) {
        configureAllowed(c.rule);
        mac_logic_lockout_clear(&record()->lockoutTable, kAddress);
        const int waitsBefore = waits();
        const int checksBefore = accounts().checks();
        const bool admitted = std::string(c.line).find(": ok") != std::string::npos;
        EXPECT_EQ(login(c.user, c.password), admitted ? 1 : -1) << c.user;
        EXPECT_TRUE(LogCapture::has(c.line)) << c.user;
        if (admitted)
            continue;
        EXPECT_EQ(waits(), waitsBefore + 1) << c.user;
        EXPECT_EQ(errorInfo(conn_), kWrongInfo) << c.user;
        EXPECT_EQ(failures(), 1) << c.user << " counts towards the lockout";
        // One check that cannot succeed, to take a wrong password's time;
        // the answer is the same whether the password was right or not.
        EXPECT_EQ(accounts().checks(), checksBefore + 1) << c.user;
    }
}
