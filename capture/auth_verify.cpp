// The password check of logins: a local account's password through the
// platform's account service.
#include <cstdio>
#include <string>

#include "mac_capture.h"
#include "platform/platform.h"

using corvane::platform::AccountCheck;

extern "C" int32_t mac_auth_verify(const char* account, const char* password) {
    if (!account || !account[0] || !password || !password[0])
        return 0;
    const corvane::platform::AccountVerdict verdict =
        corvane::platform::current().accounts().verify(account, password);
    switch (verdict.check) {
    case AccountCheck::Right:
        return 1;
    case AccountCheck::Wrong:
        return 0;
    case AccountCheck::Unavailable:
        break;
    }
    // One write per line so that lines of concurrent logins do not mix.
    char line[256];
    std::snprintf(line, sizeof line,
                  "mac_capture: Corvane login check: no directory service (%s %ld)\n",
                  verdict.errorDomain.c_str(), verdict.errorCode);
    std::fputs(line, stderr);
    return -1;
}
