// Certificate upkeep over certificate files made by the openssl command.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <filesystem>
#include <vector>

#include "app/core/server_cert.h"
#include "support.h"

using namespace corvane::app;

namespace {

// A self-signed certificate whose subject holds exactly these entries, each
// set as given (the openssl command refuses or drops empty values).
std::string certificateWithSubject(const std::vector<std::pair<int, std::string>>& entries) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    X509* certificate = X509_new();
    X509_NAME* name = X509_get_subject_name(certificate);
    for (const auto& [nid, value] : entries)
        X509_NAME_add_entry_by_NID(name, nid, V_ASN1_UTF8STRING,
                                   reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<int>(value.size()), -1, 0);
    X509_set_issuer_name(certificate, name);
    X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 86400);
    X509_set_pubkey(certificate, key);
    X509_sign(certificate, key, EVP_sha256());
    BIO* out = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(out, certificate);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out, &data);
    std::string pem(data, static_cast<size_t>(size));
    BIO_free(out);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return pem;
}

class ServerCertTest : public ::testing::Test {
  protected:
    corvane::test::TempDir dir;
    corvane::test::ScopedEnv config{"XDG_CONFIG_HOME", dir.file("config")};
    void SetUp() override {
        ASSERT_EQ(ServerCert::certPath(), dir.file("config/freerdp/shadow/shadow.crt"));
        std::filesystem::create_directories(ServerCert::directory());
    }
};

} // namespace

TEST(CertificateName, AnEmptyCommonNameLeavesTheServerUnnamed) {
    const struct {
        std::vector<std::pair<int, std::string>> subject;
        std::optional<std::string> name;
    } cases[] = {
        {{{NID_commonName, "corvane-host"}}, "corvane-host"},
        {{{NID_organizationName, "Corvane Test"}}, "/O=Corvane Test"},
        {{{NID_commonName, ""}}, std::nullopt},
        {{{NID_commonName, "  "}}, std::nullopt},
        {{{NID_organizationName, "Corvane"}, {NID_commonName, ""}}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& c : cases) {
        const std::string pem = certificateWithSubject(c.subject);
        ASSERT_NE(pem.find("BEGIN CERTIFICATE"), std::string::npos);
        EXPECT_EQ(ServerCert::subjectName(pem), c.name) << pem;
    }
}

// A certificate with a name in its subject is kept; one without (or one
// that cannot be read) goes, with its key if there is one; files that are
// missing or not PEM are left alone.
TEST_F(ServerCertTest, OnlyNamelessCertificatesAreRemovedWithTheirKey) {
    const std::string unreadable = "-----BEGIN CERTIFICATE-----\nQUJD\n-----END CERTIFICATE-----\n";
    const std::string named = certificateWithSubject({{NID_commonName, "corvane-host"}});
    const std::string nameless = certificateWithSubject({});
    const struct {
        const char* what;
        std::optional<std::string> certificate;
        bool key;
        bool removed;
    } cases[] = {
        {"named", named, true, false},
        {"organisation only", certificateWithSubject({{NID_organizationName, "Corvane"}}), true,
         false},
        {"empty subject", nameless, true, true},
        {"empty subject, no key", nameless, false, true},
        {"unreadable", unreadable, true, true},
        {"not PEM", "this is not a certificate\n", true, false},
        {"missing", std::nullopt, true, false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(ServerCert::certPath());
        std::filesystem::remove(ServerCert::keyPath());
        if (c.key)
            corvane::test::writeFile(ServerCert::keyPath(), "key\n");
        if (c.certificate)
            corvane::test::writeFile(ServerCert::certPath(), *c.certificate);
        EXPECT_EQ(ServerCert::removeIfNameless(), c.removed) << c.what;
        EXPECT_EQ(std::filesystem::exists(ServerCert::certPath()), c.certificate && !c.removed)
            << c.what;
        EXPECT_EQ(std::filesystem::exists(ServerCert::keyPath()), c.key && !c.removed) << c.what;
    }
}

TEST_F(ServerCertTest, DerTakesTheFirstCertificateAndStrictBase64) {
    const std::string pem = certificateWithSubject({{NID_commonName, "first"}});
    auto der = ServerCert::der(pem);
    ASSERT_TRUE(der);
    EXPECT_EQ((*der)[0], 0x30) << "DER of a certificate starts with a SEQUENCE";
    EXPECT_EQ(ServerCert::der(pem + "\n" + pem), der);
    EXPECT_EQ(ServerCert::der("-----BEGIN CERTIFICATE-----\nQUJD\n"), std::nullopt);
    EXPECT_EQ(ServerCert::der("-----BEGIN CERTIFICATE-----\nQU*D\n-----END CERTIFICATE-----"),
              std::nullopt);
    EXPECT_EQ(ServerCert::der("-----BEGIN CERTIFICATE-----\nQUJD\n-----END CERTIFICATE-----"),
              (std::vector<unsigned char>{'A', 'B', 'C'}));
    EXPECT_EQ(ServerCert::der("-----BEGIN CERTIFICATE-----\nQUI=\n-----END CERTIFICATE-----"),
              (std::vector<unsigned char>{'A', 'B'}));
}
