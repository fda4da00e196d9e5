#include "mac_logic.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The account derived into a 128-byte buffer, or "<unusable>".
std::string account(const char* user) {
    char out[MAC_ACCOUNT_SIZE];
    std::memset(out, 'z', sizeof(out));
    if (mac_logic_auth_account(user, out, sizeof(out)) != 1)
        return out[0] == '\0' ? "<unusable>" : "<unusable, out not emptied>";
    return out;
}

constexpr const char* kHash = "0123456789abcdefFEDCBA9876543210";
constexpr std::array<uint8_t, 16> kHashBytes = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                                0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

struct Parsed {
    int32_t result;
    std::string user;
    std::array<uint8_t, 16> hash;
};

Parsed parse(const std::string& value, size_t userOutSize = 128) {
    Parsed p{};
    char user[256];
    std::memset(user, 'q', sizeof(user));
    p.hash.fill(0xee);
    p.result = mac_logic_nla_parse(value.c_str(), user, userOutSize, p.hash.data());
    p.user.assign(user, strnlen(user, sizeof(user)));
    return p;
}

} // namespace

// Domain, host and outer blanks all name the same account (inner blanks
// stay); names with nothing left are unusable and leave the output empty.
TEST(AuthAccount, DomainHostAndBlanksAllNameTheSameAccountOrNone) {
    for (const char* user : {"alice", "CORP\\alice", "a\\b\\alice", "alice@mac.local",
                             "alice@host@x", " \talice\t ", "CORP\\ alice @host"})
        EXPECT_EQ(account(user), "alice") << user;
    EXPECT_EQ(account("Alice Smith"), "Alice Smith");
    for (const char* user : {"@host", "CORP\\@host", " @host", "   ", "\t", "", "CORP\\"})
        EXPECT_EQ(account(user), "<unusable>") << user;
    EXPECT_EQ(account(nullptr), "<unusable>");
}

TEST(AuthAccount, NameMustFitTheBufferWithItsTerminator) {
    char out[6];
    EXPECT_EQ(mac_logic_auth_account("abcde", out, sizeof(out)), 1);
    EXPECT_STREQ(out, "abcde");
    EXPECT_EQ(mac_logic_auth_account("abcdef", out, sizeof(out)), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(mac_logic_auth_account("  abcde  ", out, sizeof(out)), 1); // measured after trimming
    EXPECT_EQ(account(std::string(127, 'n').c_str()), std::string(127, 'n'));
    EXPECT_EQ(account(std::string(128, 'n').c_str()), "<unusable>");
}

TEST(NlaUserMatch, IgnoresTheCaseOfPlainLettersOnly) {
    EXPECT_EQ(mac_logic_nla_user_matches("ALICE", "alice"), 1);
    EXPECT_EQ(mac_logic_nla_user_matches(account("CORP\\Alice").c_str(), "alice"), 1);
    EXPECT_EQ(mac_logic_nla_user_matches("alice", "alicea"), 0);
    EXPECT_EQ(mac_logic_nla_user_matches("alicea", "alice"), 0);
    EXPECT_EQ(mac_logic_nla_user_matches("bob", "alice"), 0);
    EXPECT_EQ(mac_logic_nla_user_matches("\xc3\x89lise", "\xc3\xa9lise"), 0); // É vs é
    EXPECT_EQ(mac_logic_nla_user_matches("a[", "A{"), 0);
    EXPECT_EQ(mac_logic_nla_user_matches("", ""), 0);
    EXPECT_EQ(mac_logic_nla_user_matches("alice", ""), 0);
    EXPECT_EQ(mac_logic_nla_user_matches(nullptr, "alice"), 0);
}

// The hash in either case; the last colon separates, so the user may hold
// colons, and it is not trimmed.
TEST(NlaParse, ReadsUserAndHashOfEitherCase) {
    for (const char* user : {"alice", "a:b::c", " alice "}) {
        const Parsed p = parse(std::string(user) + ":" + kHash);
        EXPECT_EQ(p.result, 1) << user;
        EXPECT_EQ(p.user, user);
        EXPECT_EQ(p.hash, kHashBytes) << user;
    }
}

TEST(NlaParse, MalformedValuesLeaveUserEmptyAndHashUntouched) {
    const std::string hex(kHash);
    const std::vector<std::string> malformed = {"alice:" + hex.substr(1),       // 31 digits
                                                "alice:" + hex + "0",           // 33 digits
                                                "alice:" + hex.substr(1) + "g", // a letter beyond f
                                                "alice:G" + hex.substr(1),
                                                "alice:" + hex.substr(0, 16) + " " + hex.substr(17),
                                                ":" + hex,     // begins with the colon
                                                "alice" + hex, // no colon
                                                "alice:",
                                                "alice:" + hex + ":",
                                                ""};
    for (const std::string& value : malformed) {
        const Parsed p = parse(value);
        EXPECT_EQ(p.result, 0) << value;
        EXPECT_EQ(p.user, "") << value;
        for (uint8_t b : p.hash)
            EXPECT_EQ(b, 0xee) << value;
    }
}

TEST(NlaParse, UserLengthIsBoundedByTheBufferAnd127) {
    const std::string hex(kHash);
    EXPECT_EQ(parse(std::string(127, 'u') + ":" + hex, 200).result, 1);
    EXPECT_EQ(parse(std::string(128, 'u') + ":" + hex, 200).result, 0);
    EXPECT_EQ(parse("abcd:" + hex, 5).result, 1);
    EXPECT_EQ(parse("abcde:" + hex, 5).result, 0);
    EXPECT_EQ(parse("abcde:" + hex, 5).user, "");
}

TEST(NlaParse, MissingArgumentsAndZeroSizedBuffers) {
    const std::string value = std::string("alice:") + kHash;
    char user[8] = "keep";
    uint8_t hash[16] = {};
    EXPECT_EQ(mac_logic_nla_parse(value.c_str(), user, 0, hash), 0);
    EXPECT_STREQ(user, "keep"); // nothing written into a zero-sized buffer
    EXPECT_EQ(mac_logic_nla_parse(nullptr, user, sizeof(user), hash), 0);
    EXPECT_STREQ(user, "");
    std::strcpy(user, "keep");
    EXPECT_EQ(mac_logic_nla_parse(value.c_str(), user, sizeof(user), nullptr), 0);
    EXPECT_STREQ(user, "");
    EXPECT_EQ(mac_logic_nla_parse(value.c_str(), nullptr, 16, hash), 0);
    EXPECT_EQ(hash[1], 0);
}
