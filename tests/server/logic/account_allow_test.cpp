// The allowed-accounts rule: the default rule, named accounts and groups.
#include "mac_logic.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* rule;
    const char* account;
    const char* groups; // the account's groups, one per line
    int32_t expected;
    const char* entry; // what admitted it
};

// The owner is "root", the administrators group "sudo".
const Case kCases[] = {
    // The default rule: the owner and the administrators only.
    {nullptr, "root", "", MAC_ALLOW_OWNER, "root"},
    {"", "root", "", MAC_ALLOW_OWNER, "root"},
    {" , ,", "root", "", MAC_ALLOW_OWNER, "root"},
    {"", "admin", "users\nsudo", MAC_ALLOW_ADMIN, "sudo"},
    {"", "alice", "users\nalice", MAC_ALLOW_REFUSED, ""},
    {"", "alice", "sudoers\nsud", MAC_ALLOW_REFUSED, ""},
    {"", "Root", "", MAC_ALLOW_REFUSED, ""},
    {"", "", "sudo", MAC_ALLOW_REFUSED, ""},
    {"", nullptr, "sudo", MAC_ALLOW_REFUSED, ""},
    // A rule replaces the default one, the owner included.
    {"alice", "alice", "", MAC_ALLOW_NAMED, "alice"},
    {" bob , alice\t", "alice", "", MAC_ALLOW_NAMED, "alice"},
    {"alice", "root", "", MAC_ALLOW_REFUSED, ""},
    {"alice", "admin", "sudo", MAC_ALLOW_REFUSED, ""},
    {"alice", "alic", "", MAC_ALLOW_REFUSED, ""},
    {"alice", "ALICE", "", MAC_ALLOW_REFUSED, ""},
    {"@ops", "carol", "users\nops", MAC_ALLOW_GROUP, "@ops"},
    {"bob, @ops", "carol", "ops", MAC_ALLOW_GROUP, "@ops"},
    {"@ops", "ops", "", MAC_ALLOW_REFUSED, ""},
    {"@ops", "carol", "ops2\nop", MAC_ALLOW_REFUSED, ""},
    // A group that does not exist has no members: nobody gets in through it.
    {"@gone", "carol", "", MAC_ALLOW_REFUSED, ""},
    {"@", "carol", "\n", MAC_ALLOW_REFUSED, ""},
    {"@sudo", "admin", "sudo", MAC_ALLOW_GROUP, "@sudo"},
};

TEST(AllowedAccounts, RuleAdmitsOnlyWhomItNames) {
    for (const Case& c : kCases) {
        char entry[64] = "stale";
        EXPECT_EQ(mac_logic_account_allowed(c.rule, c.account, "root", "sudo", c.groups, entry,
                                            sizeof entry),
                  c.expected)
            << "rule '" << (c.rule ? c.rule : "<null>") << "' account '"
            << (c.account ? c.account : "<null>") << "'";
        EXPECT_STREQ(entry, c.entry) << c.account;
    }
}

TEST(AllowedAccounts, MissingOwnerOrGroupNamesMatchNothing) {
    EXPECT_EQ(mac_logic_account_allowed("", "root", nullptr, nullptr, "sudo", nullptr, 0),
              MAC_ALLOW_REFUSED);
    EXPECT_EQ(mac_logic_account_allowed("", "x", "", "", "\n", nullptr, 0), MAC_ALLOW_REFUSED);
    EXPECT_EQ(mac_logic_account_allowed("", "x", "root", "sudo", nullptr, nullptr, 0),
              MAC_ALLOW_REFUSED);
}

TEST(AllowedAccounts, EntriesAreTrimmedAndEmptyOnesSkipped) {
    const char* rule = " alice ,, @ops ,\tbob";
    std::string seen;
    char out[16];
    for (uint32_t i = 0; mac_logic_allowed_entry(rule, i, out, sizeof out) == 1; i++)
        seen += std::string(out) + "|";
    EXPECT_EQ(seen, "alice|@ops|bob|");
    EXPECT_EQ(mac_logic_allowed_entry(rule, 0, out, 5), 0) << "an entry that does not fit";
    EXPECT_STREQ(out, "");
    EXPECT_EQ(mac_logic_allowed_entry(nullptr, 0, out, sizeof out), 0);
}

} // namespace
