// User names as clients send them ("DOMAIN\name", "name@host", blanks) and
// the comparison with the configured NLA user.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "server/shadow/Mac/logic/mac_logic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t room = data[0]; // the caller's buffer, exactly this big
    const std::string sent(reinterpret_cast<const char*>(data + 1), size - 1);
    auto out = std::make_unique<char[]>(room ? room : 1);
    std::memset(out.get(), 'x', room ? room : 1);

    if (!mac_logic_auth_account(sent.c_str(), out.get(), room)) {
        if (room && out[0] != '\0')
            std::abort();
        return 0;
    }
    const char* account = out.get();
    const size_t len = std::strlen(account);
    if (len == 0 || len >= room || !std::strstr(sent.c_str(), account))
        std::abort();
    // No domain, no host and no blanks at either end are left in the name.
    if (std::strchr(account, '\\') || std::strchr(account, '@') || account[0] == ' ' ||
        account[0] == '\t' || account[len - 1] == ' ' || account[len - 1] == '\t')
        std::abort();

    // The comparison with the NLA user is symmetric and reflexive.
    const char* other = sent.c_str();
    if (mac_logic_nla_user_matches(account, other) != mac_logic_nla_user_matches(other, account) ||
        mac_logic_nla_user_matches(account, account) != 1)
        std::abort();
    return 0;
}
