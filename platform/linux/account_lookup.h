// Who the local accounts are, from the system's user and group databases
// (NSS: files, LDAP, ...). Thread-safe: only the reentrant lookups are used.
#pragma once
#include <string>
#include <vector>

namespace corvane::platform::linuxos {

// The name of the account with this uid; empty when there is none.
std::string accountName(unsigned uid);
// "sudo" where that group exists, else "wheel" where it does, else "sudo".
std::string administratorsGroupName();
std::vector<std::string> accountGroups(const std::string& account);
bool groupNamed(const std::string& group);

} // namespace corvane::platform::linuxos
