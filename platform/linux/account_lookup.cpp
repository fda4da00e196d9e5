#include "account_lookup.h"

#include <cerrno>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace corvane::platform::linuxos {

namespace {

// The size the system suggests for the lookups' buffers, grown on ERANGE.
size_t bufferSize() {
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    return suggested > 0 ? static_cast<size_t>(suggested) : 4096;
}

constexpr size_t kMaxBuffer = 1 << 20;
constexpr int kMaxGroups = 65536;

} // namespace

std::string accountName(unsigned uid) {
    std::vector<char> buffer(bufferSize());
    passwd entry{};
    passwd* found = nullptr;
    int error = 0;
    while ((error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < kMaxBuffer)
        buffer.resize(buffer.size() * 2);
    return error == 0 && found && found->pw_name ? std::string(found->pw_name) : std::string();
}

bool groupNamed(const std::string& group) {
    if (group.empty())
        return false;
    std::vector<char> buffer(bufferSize());
    struct group entry {};
    struct group* found = nullptr;
    int error = 0;
    while ((error = getgrnam_r(group.c_str(), &entry, buffer.data(), buffer.size(), &found)) ==
               ERANGE &&
           buffer.size() < kMaxBuffer)
        buffer.resize(buffer.size() * 2);
    return error == 0 && found;
}

std::string administratorsGroupName() {
    if (!groupNamed("sudo") && groupNamed("wheel"))
        return "wheel";
    return "sudo";
}

std::vector<std::string> accountGroups(const std::string& account) {
    if (account.empty())
        return {};
    std::vector<char> buffer(bufferSize());
    passwd entry{};
    passwd* found = nullptr;
    int error = 0;
    while ((error = getpwnam_r(account.c_str(), &entry, buffer.data(), buffer.size(), &found)) ==
               ERANGE &&
           buffer.size() < kMaxBuffer)
        buffer.resize(buffer.size() * 2);
    if (error != 0 || !found)
        return {};
    std::vector<gid_t> ids(64);
    int count = static_cast<int>(ids.size());
    while (getgrouplist(account.c_str(), found->pw_gid, ids.data(), &count) < 0) {
        if (count <= static_cast<int>(ids.size()) || count > kMaxGroups)
            return {};
        ids.resize(static_cast<size_t>(count));
    }
    std::vector<std::string> names;
    std::vector<char> groupBuffer(bufferSize());
    for (int i = 0; i < count; i++) {
        group entryOfGroup{};
        group* match = nullptr;
        while ((error = getgrgid_r(ids[static_cast<size_t>(i)], &entryOfGroup, groupBuffer.data(),
                                   groupBuffer.size(), &match)) == ERANGE &&
               groupBuffer.size() < kMaxBuffer)
            groupBuffer.resize(groupBuffer.size() * 2);
        if (error == 0 && match && match->gr_name)
            names.emplace_back(match->gr_name);
    }
    return names;
}

} // namespace corvane::platform::linuxos
