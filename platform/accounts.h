// Local accounts: the password check behind password logins, and who the
// accounts are (the process's own, group memberships) for the rule of which
// accounts may log in.
#pragma once
#include <string>
#include <vector>

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

    // The account the process runs as; empty when it has no name.
    virtual std::string ownAccount() const = 0;
    // The system's administrators group by its usual name here.
    virtual std::string administratorsGroup() const = 0;
    // The groups the account is a member of (its primary group included);
    // empty for an account that does not exist or cannot be looked up.
    virtual std::vector<std::string> groupsOf(const std::string& account) const = 0;
    virtual bool groupExists(const std::string& group) const = 0;
};

} // namespace corvane::platform
