// Certificate upkeep over certificate files made by the openssl command.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/core/server_cert.h"
#include "support.h"

using namespace corvane::app;
using corvane::test::fileExists;

namespace {

class ServerCertTest : public ::testing::Test {
  protected:
    corvane::test::TempDir dir;
    corvane::test::ScopedEnv config{"XDG_CONFIG_HOME", dir.file("config")};

    void SetUp() override {
        ASSERT_EQ(ServerCert::certPath(), dir.file("config/freerdp/shadow/shadow.crt"));
        std::filesystem::create_directories(ServerCert::directory());
    }
    // A self-signed pair in the server's place; `subject` "/" is empty.
    void makeCertificate(const std::string& subject) {
        std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '" +
                              subject + "' -keyout '" + ServerCert::keyPath() + "' -out '" +
                              ServerCert::certPath() + "' 2>&1";
        ASSERT_TRUE(corvane::test::shell(command)) << command;
    }
};

} // namespace

TEST_F(ServerCertTest, NamedCertificateIsKept) {
    makeCertificate("/CN=corvane-host/O=Corvane");
    std::string pem = corvane::test::readFile(ServerCert::certPath());
    EXPECT_EQ(ServerCert::subjectName(pem), "corvane-host");
    EXPECT_FALSE(ServerCert::removeIfNameless());
    EXPECT_TRUE(fileExists(ServerCert::certPath()));
    EXPECT_TRUE(fileExists(ServerCert::keyPath()));
}

TEST_F(ServerCertTest, SubjectWithoutCommonNameStillHasAName) {
    makeCertificate("/O=Corvane Test");
    auto name = ServerCert::subjectName(corvane::test::readFile(ServerCert::certPath()));
    ASSERT_TRUE(name);
    EXPECT_NE(name->find("Corvane Test"), std::string::npos);
    EXPECT_FALSE(ServerCert::removeIfNameless());
}

TEST_F(ServerCertTest, CertificateWithEmptySubjectIsRemovedWithItsKey) {
    makeCertificate("/");
    EXPECT_EQ(ServerCert::subjectName(corvane::test::readFile(ServerCert::certPath())),
              std::nullopt);
    EXPECT_TRUE(ServerCert::removeIfNameless());
    EXPECT_FALSE(fileExists(ServerCert::certPath()));
    EXPECT_FALSE(fileExists(ServerCert::keyPath()));
}

TEST_F(ServerCertTest, MissingKeyDoesNotStopTheRemoval) {
    makeCertificate("/");
    std::filesystem::remove(ServerCert::keyPath());
    EXPECT_TRUE(ServerCert::removeIfNameless());
    EXPECT_FALSE(fileExists(ServerCert::certPath()));
}

TEST_F(ServerCertTest, MissingOrNonPemFilesAreLeftAlone) {
    EXPECT_FALSE(ServerCert::removeIfNameless());
    corvane::test::writeFile(ServerCert::certPath(), "this is not a certificate\n");
    corvane::test::writeFile(ServerCert::keyPath(), "key\n");
    EXPECT_FALSE(ServerCert::removeIfNameless());
    EXPECT_TRUE(fileExists(ServerCert::certPath()));
    EXPECT_TRUE(fileExists(ServerCert::keyPath()));
}

TEST_F(ServerCertTest, DerTakesTheFirstCertificateAndStrictBase64) {
    makeCertificate("/CN=first");
    std::string pem = corvane::test::readFile(ServerCert::certPath());
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

TEST_F(ServerCertTest, UnparsableCertificateCountsAsNameless) {
    corvane::test::writeFile(ServerCert::certPath(),
                             "-----BEGIN CERTIFICATE-----\nQUJD\n-----END CERTIFICATE-----\n");
    corvane::test::writeFile(ServerCert::keyPath(), "key\n");
    EXPECT_TRUE(ServerCert::removeIfNameless());
    EXPECT_FALSE(fileExists(ServerCert::keyPath()));
}
