// The NLA login value the application hands the server: "user:32 hex digits".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "server/shadow/Mac/logic/mac_logic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte is the room the caller gives the user name; the buffer
    // is exactly that big so that any write past it is seen.
    const size_t room = data[0];
    const std::string value(reinterpret_cast<const char*>(data + 1), size - 1);
    auto user = std::make_unique<char[]>(room ? room : 1);
    std::memset(user.get(), 'x', room ? room : 1);
    uint8_t hash[MAC_NLA_HASH_SIZE];
    std::memset(hash, 0xa5, sizeof hash);
    const char* v = value.c_str();

    if (!mac_logic_nla_parse(v, user.get(), room, hash)) {
        if (room && user[0] != '\0')
            std::abort(); // a refused value leaves no user behind
        return 0;
    }
    const size_t len = std::strlen(user.get());
    if (len == 0 || len >= room || len > MAC_NLA_USER_MAX)
        std::abort();
    // The user is everything before the last colon, the hash what follows it.
    if (std::strncmp(v, user.get(), len) != 0 || v[len] != ':' || std::strchr(v + len + 1, ':'))
        std::abort();
    char hex[2 * MAC_NLA_HASH_SIZE + 1];
    for (size_t i = 0; i < MAC_NLA_HASH_SIZE; i++)
        std::snprintf(hex + 2 * i, 3, "%02x", hash[i]);
    if (strcasecmp(hex, v + len + 1) != 0)
        std::abort();
    return 0;
}
