// The account a login names: clients send "DOMAIN\name", "name@host" or a
// name padded with blanks; the Mac's accounts know only the bare name.
#include "mac_logic.h"

#include <cstring>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

extern "C" int32_t mac_logic_auth_account(const char* user, char* out, size_t outSize) noexcept {
    if (out && outSize)
        out[0] = '\0';
    if (!user || !out || !outSize)
        return 0;
    const char* backslash = std::strrchr(user, '\\');
    const char* begin = backslash ? backslash + 1 : user;
    // "@host" leaves nothing before the at sign and so no name.
    const char* at = std::strchr(begin, '@');
    const char* end = at ? at : begin + std::strlen(begin);
    while (begin < end && isBlank(*begin))
        begin++;
    while (end > begin && isBlank(end[-1]))
        end--;
    const auto len = static_cast<size_t>(end - begin);
    if (!len || len >= outSize)
        return 0;
    std::memcpy(out, begin, len);
    out[len] = '\0';
    return 1;
}

extern "C" int32_t mac_logic_nla_user_matches(const char* account, const char* nlaUser) noexcept {
    if (!account || !nlaUser || !account[0] || !nlaUser[0])
        return 0;
    size_t i = 0;
    for (; account[i] && nlaUser[i]; i++) {
        if (lowerAscii(account[i]) != lowerAscii(nlaUser[i]))
            return 0;
    }
    return account[i] == nlaUser[i];
}
