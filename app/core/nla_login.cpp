#include "app/core/nla_login.h"

#include <libsecret/secret.h>

#include <QChar>
#include <QString>
#include <QStringDecoder>
#include <cctype>

#include "app/core/app_log.h"
#include "app/core/md4.h"

namespace corvane::app::NLALogin {

namespace {

const SecretSchema* loginSchema() {
    // Matched by the two attributes alone, like a generic-password item.
    static const SecretSchema schema = {"com.corvane.app.WindowsLogin",
                                        SECRET_SCHEMA_DONT_MATCH_NAME,
                                        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

std::string hexLower(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0xf]);
    }
    return text;
}

// Spaces and tabs, not line breaks.
bool isBlank(char32_t c) {
    return c == '\t' || QChar::category(c) == QChar::Separator_Space;
}

std::u32string trimmedBlanks(const std::u32string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::u32string trimmedUserName(const std::string& user) {
    QString decoded = QString::fromUtf8(user.data(), static_cast<qsizetype>(user.size()));
    return trimmedBlanks(decoded.toStdU32String());
}

bool isHashText(const std::string& text) {
    if (text.size() != 32)
        return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool isValidUtf8(const std::string& text) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString decoded = decoder(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    return !decoder.hasError();
}

bool store(const std::string& entryText) {
    GError* error = nullptr;
    gboolean stored = secret_password_store_sync(
        loginSchema(), SECRET_COLLECTION_DEFAULT, "Corvane Windows login", entryText.c_str(),
        nullptr, &error, "service", service, "account", account, nullptr);
    if (stored && !error)
        return true;
    int code = error ? error->code : -1;
    if (error)
        g_error_free(error);
    systemLog("[Corvane app] Windows login: Keychain error " + std::to_string(code));
    return false;
}

} // namespace

std::string ntHashHex(const std::string& password) {
    QString text = QString::fromUtf8(password.data(), static_cast<qsizetype>(password.size()));
    std::string bytes;
    for (QChar unit : text) {
        char16_t code = unit.unicode();
        bytes.push_back(static_cast<char>(code & 0xff));
        bytes.push_back(static_cast<char>(code >> 8));
    }
    uint8_t digest[16];
    corvane_nt_hash(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), digest);
    return hexLower(digest, sizeof digest);
}

std::optional<std::string> userNameProblem(const std::string& user) {
    const std::u32string name = trimmedUserName(user);
    if (name.empty())
        return "Enter a user name.";
    for (char32_t c : name) {
        if (c == ':' || c == '\\' || c == '@')
            return "The user name cannot contain a colon (:), a backslash (\\) or an at sign (@).";
        if (c < 32)
            return "The user name cannot contain control characters.";
    }
    // The server reads the name in bytes of UTF-8, so the limit is counted
    // the same way here: 127 plain letters, fewer accented or other ones.
    const size_t bytes = QString::fromStdU32String(name).toUtf8().size();
    if (bytes > maxUserBytes)
        return "The user name is too long: it takes " + std::to_string(bytes) + " bytes, at most " +
               std::to_string(maxUserBytes) +
               " are allowed (letters such as \u00e9 take two bytes, many others three or "
               "four).";
    return std::nullopt;
}

std::optional<std::string> entry(const std::string& user, const std::string& hashHex) {
    if (userNameProblem(user) || !isHashText(hashHex))
        return std::nullopt;
    std::string lower;
    for (char c : hashHex)
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    return QString::fromStdU32String(trimmedUserName(user)).toStdString() + ":" + lower;
}

std::optional<std::string> user(const std::optional<std::string>& entryText) {
    if (!entryText)
        return std::nullopt;
    size_t colon = entryText->rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    return entryText->substr(0, colon);
}

std::optional<std::string> load() {
    GError* error = nullptr;
    gchar* secret = secret_password_lookup_sync(loginSchema(), nullptr, &error, "service", service,
                                                "account", account, nullptr);
    if (error)
        g_error_free(error);
    if (!secret)
        return std::nullopt;
    std::string text(secret);
    secret_password_free(secret);
    if (!isValidUtf8(text) || !user(text))
        return std::nullopt;
    return text;
}

bool save(const std::string& userName, const std::string& password) {
    std::optional<std::string> text = entry(userName, ntHashHex(password));
    return text && store(*text);
}

bool rename(const std::string& userName) {
    std::optional<std::string> stored = load();
    if (!stored)
        return false;
    size_t colon = stored->rfind(':');
    if (colon == std::string::npos)
        return false;
    std::optional<std::string> text = entry(userName, stored->substr(colon + 1));
    return text && store(*text);
}

void clear() {
    GError* error = nullptr;
    secret_password_clear_sync(loginSchema(), nullptr, &error, "service", service, "account",
                               account, nullptr);
    if (error)
        g_error_free(error);
}

} // namespace corvane::app::NLALogin
