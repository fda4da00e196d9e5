// The allowed-accounts rule: who may log in with a password. The group
// memberships are looked up by the caller; this only decides.
#include "mac_logic.h"

#include <cstring>
#include <string_view>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The index-th non-empty entry of a separated list.
bool nthEntry(std::string_view list, char separator, uint32_t index, std::string_view* out) {
    uint32_t seen = 0;
    while (true) {
        const size_t end = list.find(separator);
        const std::string_view entry = trimmed(list.substr(0, end));
        if (!entry.empty() && seen++ == index) {
            *out = entry;
            return true;
        }
        if (end == std::string_view::npos)
            return false;
        list.remove_prefix(end + 1);
    }
}

bool hasLine(const char* lines, std::string_view wanted) {
    if (!lines || wanted.empty())
        return false;
    std::string_view line;
    for (uint32_t i = 0; nthEntry(lines, '\n', i, &line); i++)
        if (line == wanted)
            return true;
    return false;
}

bool copyOut(std::string_view text, char* out, size_t outSize) {
    if (!out || !outSize)
        return false;
    if (text.size() >= outSize) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return true;
}

int32_t admitted(int32_t how, std::string_view by, char* entry, size_t entrySize) {
    copyOut(by, entry, entrySize);
    return how;
}

} // namespace

extern "C" int32_t mac_logic_allowed_entry(const char* rule, uint32_t index, char* out,
                                           size_t outSize) noexcept {
    if (out && outSize)
        out[0] = '\0';
    std::string_view entry;
    if (!rule || !nthEntry(rule, ',', index, &entry))
        return 0;
    return copyOut(entry, out, outSize) ? 1 : 0;
}

extern "C" int32_t mac_logic_account_allowed(const char* rule, const char* account,
                                             const char* owner, const char* adminGroup,
                                             const char* groups, char* entry,
                                             size_t entrySize) noexcept {
    if (entry && entrySize)
        entry[0] = '\0';
    const std::string_view name = account ? account : "";
    if (name.empty())
        return MAC_ALLOW_REFUSED;
    std::string_view item;
    if (!rule || !nthEntry(rule, ',', 0, &item)) {
        if (owner && name == owner)
            return admitted(MAC_ALLOW_OWNER, name, entry, entrySize);
        if (adminGroup && hasLine(groups, adminGroup))
            return admitted(MAC_ALLOW_ADMIN, adminGroup, entry, entrySize);
        return MAC_ALLOW_REFUSED;
    }
    for (uint32_t i = 0; nthEntry(rule, ',', i, &item); i++) {
        if (item.front() != '@') {
            if (item == name)
                return admitted(MAC_ALLOW_NAMED, item, entry, entrySize);
        } else if (hasLine(groups, trimmed(item.substr(1)))) {
            return admitted(MAC_ALLOW_GROUP, item, entry, entrySize);
        }
    }
    return MAC_ALLOW_REFUSED;
}
