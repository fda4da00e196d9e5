// The sim backend's local accounts. A test sets them in-process; a child
// process reads them from CORVANE_SIM_ACCOUNTS="user:password,user2:pw2"
// (the first colon of an entry separates; commas separate entries, so
// passwords of the sim accounts cannot contain a comma).
#pragma once
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "../accounts.h"

namespace corvane::platform::sim {

class SimAccounts : public Accounts {
  public:
    // Starts with the accounts of CORVANE_SIM_ACCOUNTS, if set.
    SimAccounts();
    AccountVerdict verify(const std::string& account, const std::string& password) override;

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
    std::mutex mutex_;
    std::map<std::string, std::string> passwords_;
    bool available_ = true;
    int checks_ = 0;
};

} // namespace corvane::platform::sim
