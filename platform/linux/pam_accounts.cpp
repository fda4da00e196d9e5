#include "pam_accounts.h"

#include "account_lookup.h"

#include <cstdlib>
#include <cstring>

#include <pwd.h>
#include <security/pam_appl.h>
#include <unistd.h>

namespace corvane::platform::linuxos {

namespace {

struct Credentials {
    const std::string* account;
    const std::string* password;
};

// Answers PAM's prompts: the password for hidden prompts, the account for
// visible ones, nothing for informational messages.
int converse(int count, const struct pam_message** messages, struct pam_response** out,
             void* data) {
    if (count <= 0 || !messages || !out || !data)
        return PAM_CONV_ERR;
    const auto* creds = static_cast<const Credentials*>(data);
    auto* responses = static_cast<pam_response*>(std::calloc(count, sizeof(pam_response)));
    if (!responses)
        return PAM_BUF_ERR;
    for (int i = 0; i < count; i++) {
        const char* answer = nullptr;
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF)
            answer = creds->password->c_str();
        else if (messages[i]->msg_style == PAM_PROMPT_ECHO_ON)
            answer = creds->account->c_str();
        if (!answer)
            continue;
        responses[i].resp = strdup(answer);
        if (!responses[i].resp) {
            for (int j = 0; j < i; j++)
                std::free(responses[j].resp);
            std::free(responses);
            return PAM_BUF_ERR;
        }
    }
    *out = responses;
    return PAM_SUCCESS;
}

// Results that mean "this account may not log in with this password".
bool isRefusal(int status) {
    switch (status) {
    case PAM_AUTH_ERR:
    case PAM_USER_UNKNOWN:
    case PAM_CRED_INSUFFICIENT:
    case PAM_MAXTRIES:
    case PAM_PERM_DENIED:
    case PAM_ACCT_EXPIRED:
    case PAM_NEW_AUTHTOK_REQD:
    case PAM_AUTHTOK_EXPIRED:
        return true;
    default:
        return false;
    }
}

AccountVerdict verdictFor(int status) {
    if (status == PAM_SUCCESS)
        return {AccountCheck::Right, {}, 0};
    if (isRefusal(status))
        return {AccountCheck::Wrong, {}, 0};
    return {AccountCheck::Unavailable, "PAM", status};
}

} // namespace

AccountVerdict PamAccounts::verify(const std::string& account, const std::string& password) {
    if (account.empty() || password.empty())
        return {AccountCheck::Wrong, {}, 0};
    Credentials creds{&account, &password};
    const pam_conv conversation{converse, &creds};
    pam_handle_t* handle = nullptr;
    int status = pam_start(service_.c_str(), account.c_str(), &conversation, &handle);
    if (status != PAM_SUCCESS || !handle)
        return {AccountCheck::Unavailable, "PAM", status};
    status = pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    // A right password of a locked or expired account still may not log in.
    if (status == PAM_SUCCESS)
        status = pam_acct_mgmt(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    pam_end(handle, status);
    return verdictFor(status);
}

AccountReach PamAccounts::reach() const {
    const uid_t uid = geteuid();
    if (uid == 0)
        return {};
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    const std::string why = "the server does not run as root, and PAM (pam_unix) checks no "
                            "other account's password without root";
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return {false, found->pw_name, why};
    return {false, "uid " + std::to_string(uid), why};
}

std::string PamAccounts::ownAccount() const {
    return accountName(geteuid());
}

std::string PamAccounts::administratorsGroup() const {
    return administratorsGroupName();
}

std::vector<std::string> PamAccounts::groupsOf(const std::string& account) const {
    return accountGroups(account);
}

bool PamAccounts::groupExists(const std::string& group) const {
    return groupNamed(group);
}

} // namespace corvane::platform::linuxos
