// The sim backend's local accounts. A test sets them in-process; a child
// process reads them from CORVANE_SIM_ACCOUNTS="user:password,user2:pw2"
// (the first colon of an entry separates; commas separate entries, so
// passwords of the sim accounts cannot contain a comma).
// The process's own account is "owner" and the administrators group "admin"
// (without members) until a test says otherwise; other groups exist once a
// test sets them.
#pragma once
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "../accounts.h"

namespace corvane::platform::sim {

class SimAccounts : public Accounts {
  public:
    // Starts with the accounts of CORVANE_SIM_ACCOUNTS, if set.
    SimAccounts();
    AccountVerdict verify(const std::string& account, const std::string& password) override;
    std::string ownAccount() const override;
    std::string administratorsGroup() const override;
    std::vector<std::string> groupsOf(const std::string& account) const override;
    bool groupExists(const std::string& group) const override;

    void setOwner(const std::string& account);
    // Creates or replaces a group with these members.
    void setGroup(const std::string& group, const std::set<std::string>& members);

    void set(const std::string& account, const std::string& password);
    void remove(const std::string& account);
    // Replaces every account by those listed in the CORVANE_SIM_ACCOUNTS
    // format; returns how many were read.
    int loadList(std::string_view list);
    // With false the service cannot be asked: every check answers
    // Unavailable.
    void setAvailable(bool available);
    // Checks made so far (each call of verify that reached the service).
    int checks();

  private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> passwords_;
    std::map<std::string, std::set<std::string>> groups_;
    std::string owner_ = "owner";
    bool available_ = true;
    int checks_ = 0;
};

} // namespace corvane::platform::sim
