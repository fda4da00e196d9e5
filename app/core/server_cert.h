// Upkeep of the shadow server's TLS certificate: a certificate without a
// subject name shows up in clients as an unnamed server, so it is removed and
// the server makes a new pair at its next start.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace corvane::app::ServerCert {

std::string directory();
std::string certPath();
std::string keyPath();

// The DER bytes of the first PEM certificate in the text.
std::optional<std::vector<unsigned char>> der(const std::string& pem);
// A short human-readable name of the certificate's subject.
std::optional<std::string> subjectName(const std::string& pem);
// Deletes the certificate and key when the certificate has no subject name;
// true when it did.
bool removeIfNameless();

} // namespace corvane::app::ServerCert
