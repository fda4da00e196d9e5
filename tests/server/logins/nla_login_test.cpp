// NLA logins: the configured login, the NTLMv2 key from the stored hash, the
// attempt mark, and how NLA outcomes feed the shared lockout table.
#include <cstdlib>
#include <cstring>
#include <string>

#include <winpr/crypto.h>

#include "login_fixture.h"
#include "server/shadow/Mac/core/lifecycle.h"

using namespace login_test;

namespace {

// winpr-hash3 -u alice -p Secret1
constexpr const char* kLogin = "alice:ed50bdc9faa370e31ac4ee119fd51f48";
constexpr const char* kAddress = "198.51.100.4";

// A client's identity as the NTLM layer hands it over (UTF-16 or 8-bit).
struct Identity {
    Identity(const std::u16string& user, const std::u16string& domain)
        : user16(user), domain16(domain) {
        id.User = user16.empty() ? nullptr : reinterpret_cast<UINT16*>(user16.data());
        id.UserLength = static_cast<ULONG>(user16.size());
        id.Domain = domain16.empty() ? nullptr : reinterpret_cast<UINT16*>(domain16.data());
        id.DomainLength = static_cast<ULONG>(domain16.size());
        id.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
    }
    Identity(const std::string& user, const std::string& domain) : user8(user), domain8(domain) {
        id.User = reinterpret_cast<UINT16*>(user8.data());
        id.UserLength = static_cast<ULONG>(user8.size());
        id.Domain = reinterpret_cast<UINT16*>(domain8.data());
        id.DomainLength = static_cast<ULONG>(domain8.size());
        id.Flags = SEC_WINNT_AUTH_IDENTITY_ANSI;
    }
    std::u16string user16, domain16;
    std::string user8, domain8;
    SEC_WINNT_AUTH_IDENTITY id{};
};

// The NTLMv2 key as NTLM defines it: HMAC-MD5 keyed with the NT hash over
// the upper-cased user and the domain, both UTF-16LE. (OpenSSL 3 without its
// legacy provider has no MD4, so the NT hash comes from winpr-hash3 above.)
std::string expectedKey(const std::u16string& user, const std::u16string& domain) {
    static const BYTE ntHash[16] = {0xed, 0x50, 0xbd, 0xc9, 0xfa, 0xa3, 0x70, 0xe3,
                                    0x1a, 0xc4, 0xee, 0x11, 0x9f, 0xd5, 0x1f, 0x48};
    std::u16string message;
    for (char16_t c : user)
        message += (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
    message += domain;
    BYTE key[16] = {};
    WINPR_HMAC_CTX* hmac = winpr_HMAC_New();
    EXPECT_TRUE(hmac && winpr_HMAC_Init(hmac, WINPR_MD_MD5, ntHash, sizeof ntHash) &&
                winpr_HMAC_Update(hmac, message.data(), message.size() * 2) &&
                winpr_HMAC_Final(hmac, key, sizeof key));
    winpr_HMAC_Free(hmac);
    return std::string(reinterpret_cast<char*>(key), sizeof key);
}

class NlaLogin : public LoginTest {
  protected:
    void SetUp() override {
        LoginTest::SetUp();
        configureNla(kLogin);
        conn_ = newConnection();
    }
    FakeConnection* newConnection() {
        FakeConnection* c = connect(kAddress);
        EXPECT_NE(c, nullptr);
        c->peer.Logon = fakeLibraryLogon;
        c->peer.Initialize(&c->peer);
        return c;
    }
    SECURITY_STATUS hash(FakeConnection* c, const Identity& identity, BYTE* key) {
        return mac_shadow_nla_hash(&c->peer, &identity.id, nullptr, nullptr, nullptr, nullptr, key);
    }
    int attempt(FakeConnection* c) { return shadow_ext_client_nla_attempt(&c->client); }
    int failures() { return mac_logic_lockout_failures(&record()->lockoutTable, kAddress); }
    // One NLA attempt that reaches the hash request and then ends.
    void failedAttempt() {
        FakeConnection* c = newConnection();
        BYTE key[16];
        hash(c, Identity(u"alice", u""), key);
        disconnect(c);
    }
    FakeConnection* conn_ = nullptr;
};

} // namespace

// The key is computed from the user and domain exactly as sent, in UTF-16 or
// 8-bit, whatever the case and domain prefix of the user.
TEST_F(NlaLogin, KeyFromStoredHashMatchesTheKeyFromThePassword) {
    const struct {
        Identity identity;
        std::u16string user, domain;
    } cases[] = {
        {Identity(u"ALICE", u"Corp"), u"ALICE", u"Corp"},
        {Identity(u"WORKGROUP\\Alice", u""), u"WORKGROUP\\Alice", u""},
        {Identity(std::string("alice"), std::string("HOME")), u"alice", u"HOME"},
    };
    for (const auto& c : cases) {
        BYTE key[16] = {};
        ASSERT_EQ(hash(conn_, c.identity, key), SEC_E_OK);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 16), expectedKey(c.user, c.domain));
    }
    EXPECT_EQ(attempt(conn_), 1);
    EXPECT_TRUE(LogCapture::has("[INFO] mac_shadow_nla_hash: nla login attempt from 198.51.100.4: "
                                "user 'ALICE' (5 chars), domain 'Corp'"));
    EXPECT_EQ(waits(), 0);
}

TEST_F(NlaLogin, UnknownUserIsRefusedAndCountedAtPeerEnd) {
    BYTE key[16] = {};
    EXPECT_EQ(hash(conn_, Identity(u"mallory", u"X"), key), SEC_E_LOGON_DENIED);
    EXPECT_TRUE(LogCapture::has("nla login from 198.51.100.4 as 'mallory': unknown user (the "
                                "Corvane login is 'alice')"));
    EXPECT_EQ(waits(), 0) << "no wait while the address has no failures";
    EXPECT_EQ(attempt(conn_), 1);
    disconnect(conn_);
    EXPECT_EQ(failures(), 1);
    EXPECT_TRUE(LogCapture::has("[WARN] mac_shadow_peer_end: nla login from 198.51.100.4: wrong "
                                "password (1)"));
}

TEST_F(NlaLogin, FailuresMakeAnswersWaitAndTheThirdLocksWithoutCountingMore) {
    failedAttempt();
    FakeConnection* c = newConnection();
    BYTE key[16];
    const int before = waits();
    EXPECT_EQ(hash(c, Identity(u"alice", u""), key), SEC_E_OK);
    EXPECT_EQ(hash(c, Identity(u"bob", u""), key), SEC_E_LOGON_DENIED);
    EXPECT_EQ(waits(), before + 2) << "an address with failures waits before each answer";
    disconnect(c);
    failedAttempt();
    EXPECT_TRUE(LogCapture::has("nla login from 198.51.100.4: wrong password (3 in a row): locked "
                                "out for 30 s"));
    c = newConnection();
    advance(10'000);
    EXPECT_EQ(hash(c, Identity(u"alice", u""), key), SEC_E_LOGON_DENIED);
    EXPECT_TRUE(LogCapture::has("nla login from 198.51.100.4 refused: locked out for another 20 s "
                                "after wrong passwords"));
    EXPECT_EQ(attempt(c), 0);
    disconnect(c);
    EXPECT_EQ(failures(), 3);
}

TEST_F(NlaLogin, LogonAfterTheHashIsAGoodLoginThatFreesTheEntry) {
    failedAttempt();
    ASSERT_EQ(failures(), 1);
    FakeConnection* c = newConnection();
    BYTE key[16];
    ASSERT_EQ(hash(c, Identity(u"alice", u""), key), SEC_E_OK);
    const int libraryCalls = libraryLogonCalls();
    SEC_WINNT_AUTH_IDENTITY identity{};
    EXPECT_TRUE(c->peer.Logon(&c->peer, &identity, TRUE));
    EXPECT_EQ(libraryLogonCalls(), libraryCalls + 1);
    EXPECT_EQ(attempt(c), 2);
    EXPECT_EQ(failures(), 0);
    EXPECT_TRUE(LogCapture::has("[INFO] mac_shadow_peer_logon: nla login from 198.51.100.4 as "
                                "'alice': ok"));
    disconnect(c);
    EXPECT_EQ(failures(), 0) << "a logged-on connection is not counted at its end";
}

TEST_F(NlaLogin, LogonWithoutHashRequestLeavesTheTableAlone) {
    failedAttempt();
    SEC_WINNT_AUTH_IDENTITY identity{};
    EXPECT_TRUE(conn_->peer.Logon(&conn_->peer, &identity, FALSE));
    EXPECT_EQ(failures(), 1);
    EXPECT_FALSE(LogCapture::has(": ok"));
    disconnect(conn_);
    EXPECT_EQ(failures(), 1) << "no hash request, nothing to count";
}

TEST_F(NlaLogin, WithoutLoginEveryRequestIsRefusedWarnedOnceAndCounted) {
    configureNla(nullptr);
    BYTE key[16];
    EXPECT_EQ(hash(conn_, Identity(u"alice", u""), key), SEC_E_LOGON_DENIED);
    FakeConnection* second = newConnection();
    EXPECT_EQ(hash(second, Identity(u"alice", u""), key), SEC_E_LOGON_DENIED);
    EXPECT_EQ(LogCapture::count("as 'alice': refused, no Corvane login is set (Settings > Windows "
                                "login)"),
              1)
        << LogCapture::all();
    disconnect(conn_);
    disconnect(second);
    EXPECT_EQ(failures(), 2);
}

TEST_F(NlaLogin, MissingPiecesAreAnInternalError) {
    BYTE key[16];
    const Identity identity(u"alice", u"");
    EXPECT_EQ(mac_shadow_nla_hash(nullptr, &identity.id, nullptr, nullptr, nullptr, nullptr, key),
              SEC_E_INTERNAL_ERROR);
    EXPECT_EQ(mac_shadow_nla_hash(&conn_->peer, nullptr, nullptr, nullptr, nullptr, nullptr, key),
              SEC_E_INTERNAL_ERROR);
    EXPECT_EQ(hash(conn_, identity, nullptr), SEC_E_INTERNAL_ERROR);
    freerdp_peer bare{};
    EXPECT_EQ(mac_shadow_nla_hash(&bare, &identity.id, nullptr, nullptr, nullptr, nullptr, key),
              SEC_E_INTERNAL_ERROR);
    EXPECT_EQ(attempt(conn_), 0) << "nothing else happens";
    EXPECT_TRUE(LogCapture::lines().empty()) << LogCapture::all();
}

TEST_F(NlaLogin, PeerCallbackAnswersWinPrsBooleanConvention) {
    BYTE key[16] = {};
    const Identity right(u"alice", u"");
    ASSERT_NE(conn_->peer.SspiNtlmHashCallback, nullptr);
    EXPECT_NE(conn_->peer.SspiNtlmHashCallback(&conn_->peer, &right.id, nullptr, nullptr, nullptr,
                                               nullptr, key),
              0)
        << "non-zero: the key was written";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 16), expectedKey(u"alice", u""));
    const Identity wrong(u"bob", u"");
    EXPECT_EQ(conn_->peer.SspiNtlmHashCallback(&conn_->peer, &wrong.id, nullptr, nullptr, nullptr,
                                               nullptr, key),
              0);
}

class NlaConfigure : public LoginTest {};

TEST_F(NlaConfigure, ValidValueIsReadOnceAndRemovedAnEmptyOneSilently) {
    setenv("MAC_SHADOW_NLA", "dom:user:00112233445566778899AABBCCDDEEFF", 1);
    mac_shadow_nla_configure(record());
    EXPECT_TRUE(record()->nlaConfigured);
    EXPECT_STREQ(record()->nlaUser, "dom:user");
    EXPECT_EQ(record()->nlaHash[15], 0xff);
    EXPECT_EQ(std::getenv("MAC_SHADOW_NLA"), nullptr);
    EXPECT_TRUE(LogCapture::has("[INFO] mac_shadow_nla_configure: Corvane login for NLA clients: "
                                "user 'dom:user'"));
    mac_shadow_nla_configure(record());
    EXPECT_FALSE(record()->nlaConfigured) << "a second read finds nothing";
    LogCapture::clear();
    setenv("MAC_SHADOW_NLA", "", 1);
    mac_shadow_nla_configure(record());
    EXPECT_FALSE(record()->nlaConfigured);
    EXPECT_TRUE(LogCapture::lines().empty()) << LogCapture::all();
}

// Which values are malformed is the parser's table (tests/server/logic); here
// what a malformed one does, and the byte limit that the app checks too.
TEST_F(NlaConfigure, MalformedValueIsLoggedRemovedAndRefusesNla) {
    std::string accented;
    for (int i = 0; i < 64; ++i)
        accented += "\xC3\xA9"; // 64 characters, 128 bytes
    const struct {
        std::string value;
        const char* line;
    } cases[] = {
        {"alice:00112233445566778899aabbccddeefg",
         "[ERROR] mac_shadow_nla_configure: MAC_SHADOW_NLA is malformed (want user:32 hex "
         "digits): NLA logins will be refused"},
        {accented + ":00112233445566778899aabbccddeeff",
         "[ERROR] mac_shadow_nla_configure: the NLA user name takes 128 bytes of UTF-8, at most "
         "127 are allowed"},
    };
    for (const auto& c : cases) {
        LogCapture::clear();
        setenv("MAC_SHADOW_NLA", c.value.c_str(), 1);
        mac_shadow_nla_configure(record());
        EXPECT_FALSE(record()->nlaConfigured) << c.value;
        EXPECT_EQ(std::getenv("MAC_SHADOW_NLA"), nullptr);
        EXPECT_TRUE(LogCapture::has(c.line)) << c.value;
    }
}
