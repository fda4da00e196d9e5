// Local account passwords on Linux, checked through PAM with the service
// "corvane" (its file uses the system's common auth and account stacks).
// Checking other accounts than the caller's own needs root with pam_unix.
#pragma once
#include "../accounts.h"

namespace corvane::platform::linuxos {

class PamAccounts : public Accounts {
  public:
    explicit PamAccounts(std::string service = "corvane") : service_(std::move(service)) {}
    AccountVerdict verify(const std::string& account, const std::string& password) override;
    AccountReach reach() const override;
    std::string ownAccount() const override;
    std::string administratorsGroup() const override;
    std::vector<std::string> groupsOf(const std::string& account) const override;
    bool groupExists(const std::string& group) const override;

  private:
    std::string service_;
};

} // namespace corvane::platform::linuxos
