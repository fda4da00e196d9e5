// Who may log in with a password: the rule read once at init, the start
// line that names it, and the check of one account against it. The group
// memberships come from the platform's accounts at each login, so that a
// change of the groups counts without a restart.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/log.h"
#include "core/lifecycle.h"
#include "logins.h"
#include "platform/platform.h"

namespace {

constexpr const char* kRuleVariable = "MAC_SHADOW_ALLOWED_USERS";

void copyInto(char* out, size_t outSize, const std::string& text) {
    std::snprintf(out, outSize, "%s", text.size() < outSize ? text.c_str() : "");
}

std::string quoted(const std::string& name) {
    char shown[MAC_ACCOUNT_SIZE * 2];
    mac_login::printable(name.c_str(), shown, sizeof shown);
    return "'" + std::string(shown) + "'";
}

// Blanks and commas only: the default rule.
bool hasEntries(const char* rule) {
    return rule[std::strspn(rule, " \t,")] != '\0';
}

// The rule in words: "the server's own account 'root' and the members of
// group 'sudo'", or the entries of the variable.
std::string describe(const macShadowSubsystem* record, bool* missingGroup) {
    *missingGroup = false;
    auto& accounts = corvane::platform::current().accounts();
    if (!hasEntries(record->allowedRule)) {
        std::string text = "the server's own account " + quoted(record->ownerAccount) +
                           " and the members of group " + quoted(record->adminGroup);
        if (!accounts.groupExists(record->adminGroup)) {
            *missingGroup = true;
            text += " (no such group)";
        }
        return text;
    }
    std::string text;
    char entry[MAC_ACCOUNT_SIZE + 1];
    for (uint32_t i = 0; mac_logic_allowed_entry(record->allowedRule, i, entry, sizeof entry) == 1;
         i++) {
        if (!text.empty())
            text += ", ";
        if (entry[0] != '@') {
            text += quoted(entry);
            continue;
        }
        text += "the members of group " + quoted(entry + 1);
        if (!accounts.groupExists(entry + 1)) {
            *missingGroup = true;
            text += " (no such group)";
        }
    }
    return text;
}

} // namespace

void mac_shadow_allow_configure(macShadowSubsystem* record) {
    auto& accounts = corvane::platform::current().accounts();
    const char* rule = std::getenv("MAC_SHADOW_ALLOWED_USERS");
    const char* group = std::getenv("MAC_SHADOW_ADMIN_GROUP");
    record->allowedRuleBroken = false;
    copyInto(record->ownerAccount, sizeof record->ownerAccount, accounts.ownAccount());
    copyInto(record->adminGroup, sizeof record->adminGroup,
             group && group[0] ? std::string(group) : accounts.administratorsGroup());
    copyInto(record->allowedRule, sizeof record->allowedRule, rule ? rule : "");
    // An entry that does not fit names nobody we could match: a rule cut
    // short would admit others than the one asked for, so none is admitted.
    char entry[MAC_ACCOUNT_SIZE + 1];
    bool entryTooLong = false;
    for (uint32_t i = 0; !entryTooLong && rule; i++) {
        char probe[sizeof record->allowedRule];
        if (mac_logic_allowed_entry(rule, i, probe, sizeof probe) != 1)
            break;
        entryTooLong = mac_logic_allowed_entry(rule, i, entry, sizeof entry) != 1;
    }
    if ((rule && std::strlen(rule) >= sizeof record->allowedRule) || entryTooLong) {
        record->allowedRuleBroken = true;
        record->allowedRule[0] = '\0';
        MAC_ERROR("%s is too long (at most %zu bytes, %d per entry): every password login "
                  "will be refused",
                  kRuleVariable, sizeof record->allowedRule - 1, MAC_ACCOUNT_SIZE - 1);
    }
    bool missingGroup = false;
    const std::string text = record->allowedRuleBroken ? std::string("a rule too long to read")
                                                       : describe(record, &missingGroup);
    copyInto(record->allowedRuleText, sizeof record->allowedRuleText, text);
}

void mac_shadow_log_login_accounts(const macShadowSubsystem* record,
                                   const rdpShadowServer* server) {
    if (!record || !server || !server->authentication)
        return;
    const auto reach = corvane::platform::current().accounts().reach();
    const bool byRule = hasEntries(record->allowedRule) || record->allowedRuleBroken;
    bool missingGroup = false;
    if (!record->allowedRuleBroken)
        (void)describe(record, &missingGroup);
    if (missingGroup)
        MAC_WARN("%s: a named group does not exist: it admits nobody until it is made",
                 byRule ? kRuleVariable : "the administrators group (MAC_SHADOW_ADMIN_GROUP)");
    if (reach.everyAccount)
        MAC_INFO("password logins: allowed for %s%s", record->allowedRuleText,
                 byRule ? " (MAC_SHADOW_ALLOWED_USERS)" : "");
    else
        MAC_WARN("password logins: allowed for %s%s; but only the account '%s' can be checked "
                 "(%s), any other account reads as a wrong password",
                 record->allowedRuleText, byRule ? " (MAC_SHADOW_ALLOWED_USERS)" : "",
                 reach.onlyAccount.c_str(), reach.why.c_str());
}

namespace mac_login {

bool accountAllowed(const macShadowSubsystem* record, const char* account, char* by,
                    size_t bySize) {
    if (by && bySize)
        by[0] = '\0';
    if (record->allowedRuleBroken || !account || !account[0])
        return false;
    std::string groups;
    for (const std::string& group : corvane::platform::current().accounts().groupsOf(account))
        groups += group + "\n";
    return mac_logic_account_allowed(record->allowedRule, account, record->ownerAccount,
                                     record->adminGroup, groups.c_str(), by,
                                     bySize) != MAC_ALLOW_REFUSED;
}

} // namespace mac_login
