// The "Windows login" NLA clients use: a user name and the NT hash of its
// password, kept as one item in the user's secret store (Secret Service on
// Linux) and handed to the server as "user:32 hex digits".
#pragma once
#include <cstddef>
#include <optional>
#include <string>

namespace corvane::app {

namespace NLALogin {

inline constexpr const char* service = "com.corvane.app";
inline constexpr const char* account = "windows-login";

// The NT hash of a UTF-8 password: MD4 of its UTF-16LE code units.
std::string ntHashHex(const std::string& password);
// The longest user name the server accepts, in bytes of UTF-8.
inline constexpr size_t maxUserBytes = 127;
// Why a user name cannot be stored (a sentence for the user), or nothing
// when it can. The name is trimmed of blanks first.
std::optional<std::string> userNameProblem(const std::string& user);
// "user:hash" with the user trimmed and checked and the hash in lower case.
std::optional<std::string> entry(const std::string& user, const std::string& hashHex);
// The text before the last colon of an entry.
std::optional<std::string> user(const std::optional<std::string>& entry);

std::optional<std::string> load();
bool save(const std::string& user, const std::string& password);
bool rename(const std::string& user);
void clear();

} // namespace NLALogin

} // namespace corvane::app
