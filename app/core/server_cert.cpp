#include "app/core/server_cert.h"

#include <openssl/x509.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/core/paths.h"
#include "app/core/text_util.h"

namespace corvane::app::ServerCert {

std::string directory() {
    return paths::serverCertDirectory();
}
std::string certPath() {
    return directory() + "/shadow.crt";
}
std::string keyPath() {
    return directory() + "/shadow.key";
}

namespace {

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Standard Base64 with padding; any other character fails the decoding.
std::optional<std::vector<unsigned char>> decodeBase64(const std::string& text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    std::vector<unsigned char> bytes;
    uint32_t accumulator = 0;
    int bits = 0;
    for (size_t i = 0; i < text.size() - padding; ++i) {
        int value = base64Value(text[i]);
        if (value < 0)
            return std::nullopt;
        accumulator = (accumulator << 6) | static_cast<uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<unsigned char>(accumulator >> bits));
        }
    }
    return bytes;
}

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Pointer = std::unique_ptr<X509, X509Free>;

// The common name when the subject has one: an empty one leaves the server
// unnamed in clients, whatever else the subject holds. Without a common
// name, the whole subject on one line.
std::optional<std::string> subjectSummary(X509_NAME* subject) {
    if (!subject || X509_NAME_entry_count(subject) == 0)
        return std::nullopt;
    int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (index >= 0) {
        ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
        unsigned char* utf8 = nullptr;
        int length = ASN1_STRING_to_UTF8(&utf8, data);
        std::string name;
        if (length > 0)
            name.assign(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
        OPENSSL_free(utf8);
        if (name.find_first_not_of(" \t") == std::string::npos)
            return std::nullopt;
        return name;
    }
    char* line = X509_NAME_oneline(subject, nullptr, 0);
    if (!line)
        return std::nullopt;
    std::string text(line);
    OPENSSL_free(line);
    if (text.empty())
        return std::nullopt;
    return text;
}

} // namespace

std::optional<std::vector<unsigned char>> der(const std::string& pem) {
    static const std::string begin = "-----BEGIN CERTIFICATE-----";
    static const std::string end = "-----END CERTIFICATE-----";
    size_t start = pem.find(begin);
    if (start == std::string::npos)
        return std::nullopt;
    start += begin.size();
    size_t stop = pem.find(end, start);
    if (stop == std::string::npos)
        return std::nullopt;
    std::string body;
    for (size_t i = start; i < stop; ++i)
        if (!std::isspace(static_cast<unsigned char>(pem[i])))
            body.push_back(pem[i]);
    return decodeBase64(body);
}

std::optional<std::string> subjectName(const std::string& pem) {
    auto bytes = der(pem);
    if (!bytes || bytes->empty())
        return std::nullopt;
    const unsigned char* cursor = bytes->data();
    X509Pointer certificate(d2i_X509(nullptr, &cursor, static_cast<long>(bytes->size())));
    if (!certificate)
        return std::nullopt;
    auto name = subjectSummary(X509_get_subject_name(certificate.get()));
    if (name && name->empty())
        return std::nullopt;
    return name;
}

bool removeIfNameless() {
    std::optional<std::string> pem = text::readFile(certPath());
    if (!pem || !der(*pem) || subjectName(*pem))
        return false;
    std::error_code ignored;
    std::filesystem::remove(certPath(), ignored);
    std::filesystem::remove(keyPath(), ignored);
    return true;
}

} // namespace corvane::app::ServerCert
