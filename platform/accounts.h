// Local account passwords: the check behind password logins.
#pragma once
#include <string>

namespace corvane::platform {

enum class AccountCheck : int {
    Unavailable = -1, // the account service could not be asked
    Wrong = 0,        // wrong password, unknown account, empty account or password
    Right = 1,
};

struct AccountVerdict {
    AccountCheck check = AccountCheck::Wrong;
    // Why the service could not be asked (for the log), when Unavailable.
    std::string errorDomain;
    long errorCode = 0;
};

// Which accounts the service can check from this process: every local
// account, or only the one the process runs as (PAM's pam_unix checks other
// accounts' passwords only for root).
struct AccountReach {
    bool everyAccount = true;
    std::string onlyAccount; // when not every account
    std::string why;         // the backend's reason for the limit
};

class Accounts {
  public:
    virtual ~Accounts() = default;
    virtual AccountReach reach() const { return {}; }
    // Checks the password of a local account. Blocks for as long as the
    // service takes (a failed check may be delayed on purpose by it).
    virtual AccountVerdict verify(const std::string& account, const std::string& password) = 0;
};

} // namespace corvane::platform
