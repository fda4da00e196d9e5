// The NLA login value "user:<NT hash as 32 hex digits>". The user may itself
// contain colons, so the last colon separates the two.
#include "mac_logic.h"

#include <cstring>

namespace {

constexpr size_t kHexDigits = 2 * MAC_NLA_HASH_SIZE;

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes exactly 32 hex digits; false for any other length or character.
bool decodeHash(const char* hex, uint8_t* bytes) {
    if (strnlen(hex, kHexDigits + 1) != kHexDigits)
        return false;
    for (size_t i = 0; i < MAC_NLA_HASH_SIZE; i++) {
        const int high = hexValue(hex[2 * i]);
        const int low = hexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

} // namespace

extern "C" int32_t mac_logic_nla_parse(const char* value, char* userOut, size_t userOutSize,
                                       uint8_t* hashOut) noexcept {
    // A zero-sized buffer has no room even for the terminator.
    if (userOut && userOutSize)
        userOut[0] = '\0';
    if (!value || !userOut || !userOutSize || !hashOut)
        return 0;
    const char* colon = std::strrchr(value, ':');
    if (!colon || colon == value)
        return 0;
    const auto userLen = static_cast<size_t>(colon - value);
    if (userLen >= userOutSize || userLen > MAC_NLA_USER_MAX)
        return 0;
    uint8_t hash[MAC_NLA_HASH_SIZE];
    if (!decodeHash(colon + 1, hash))
        return 0;
    std::memcpy(userOut, value, userLen);
    userOut[userLen] = '\0';
    std::memcpy(hashOut, hash, sizeof(hash));
    return 1;
}
