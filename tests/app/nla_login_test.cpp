// NT hashes (MD4 of UTF-16LE, against winpr-hash3 as the end-to-end tests
// run it) and the validation of login entries.
#include <gtest/gtest.h>

#include "app/core/nla_login.h"
#include "e2e_session.h"
#include "mac_logic.h"

using namespace corvane::app;

TEST(NtHash, AgreesWithWinprHash) {
    // 40 characters are 80 bytes of UTF-16 (two MD4 blocks); U+1F600 is a
    // surrogate pair.
    for (const std::string& password :
         std::vector<std::string>{"password", "Secret 123!", "p\xC3\xA4ss\xE2\x82\xAC", "x",
                                  "\xF0\x9F\x98\x80", std::string(40, 'q')})
        EXPECT_EQ(NLALogin::ntHashHex(password), e2e::winprHash("someone", password)) << password;
}

TEST(NlaEntry, TrimsBlanksAndLowersTheHash) {
    const std::string upper = "0123456789ABCDEF0123456789ABCDEF";
    EXPECT_EQ(NLALogin::entry(" \talice\t ", upper), "alice:0123456789abcdef0123456789abcdef");
    EXPECT_EQ(NLALogin::entry("J\xC3\xBCrgen", upper),
              "J\xC3\xBCrgen:0123456789abcdef0123456789abcdef");
}

TEST(NlaEntry, RefusesBadNamesAndHashes) {
    const std::string hash = "0123456789abcdef0123456789abcdef";
    for (std::string bad : {"", "   ", "a:b", "dom\\user", "user@host", "tab\tinside\x01"})
        EXPECT_EQ(NLALogin::entry(bad, hash), std::nullopt) << bad;
    EXPECT_EQ(NLALogin::entry("line\nbreak", hash), std::nullopt);

    EXPECT_EQ(NLALogin::entry("bob", hash.substr(1)), std::nullopt);
    EXPECT_EQ(NLALogin::entry("bob", hash + "0"), std::nullopt);
    EXPECT_EQ(NLALogin::entry("bob", "g123456789abcdef0123456789abcdef"), std::nullopt);
}

// The server takes at most 127 bytes of UTF-8: a name the store accepts must
// never be refused there, and the user learns why a longer one is refused.
TEST(NlaEntry, UserNameLimitIsCountedInBytesLikeTheServer) {
    const std::string hash = "0123456789abcdef0123456789abcdef";
    std::string e63, e64;
    for (int i = 0; i < 63; ++i)
        e63 += "\xC3\xA9"; // é, two bytes
    e64 = e63 + "\xC3\xA9";
    const struct {
        std::string name;
        bool accepted;
    } cases[] = {
        {std::string(127, 'u'), true},
        {std::string(128, 'u'), false},
        {e63 + "u", true},                           // 127 bytes
        {e64, false},                                // 64 characters, 128 bytes
        {"  " + std::string(127, 'u') + "\t", true}, // blanks are trimmed first
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NLALogin::entry(c.name, hash).has_value(), c.accepted) << c.name.size();
        EXPECT_EQ(!NLALogin::userNameProblem(c.name), c.accepted) << c.name.size();
        if (auto stored = NLALogin::entry(c.name, hash)) {
            char user[128];
            uint8_t bytes[16];
            EXPECT_EQ(mac_logic_nla_parse(stored->c_str(), user, sizeof user, bytes), 1)
                << "the server accepts what the store keeps";
        }
    }
    EXPECT_EQ(NLALogin::userNameProblem(e64),
              "The user name is too long: it takes 128 bytes, at most 127 are allowed (letters "
              "such as \u00e9 take two bytes, many others three or four).");
    EXPECT_EQ(NLALogin::userNameProblem(" "), "Enter a user name.");
    EXPECT_TRUE(NLALogin::userNameProblem("dom\\user"));
}

TEST(NlaEntry, UserIsTheTextBeforeTheLastColon) {
    EXPECT_EQ(NLALogin::user(std::nullopt), std::nullopt);
    EXPECT_EQ(NLALogin::user(std::string("alice:abc")), "alice");
    EXPECT_EQ(NLALogin::user(std::string("a:b:c")), "a:b");
    EXPECT_EQ(NLALogin::user(std::string("nocolon")), std::nullopt);
    EXPECT_EQ(NLALogin::user(std::string(":hash")), std::nullopt);
}
