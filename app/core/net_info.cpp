#include "app/core/net_info.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "app/core/text_util.h"

namespace corvane::app::NetInfo {

namespace {

bool hasFourNonEmptyParts(const std::string& ip) {
    std::vector<std::string> parts = text::split(ip, '.', true);
    if (parts.size() != 4)
        return false;
    return std::none_of(parts.begin(), parts.end(), [](const auto& p) { return p.empty(); });
}

} // namespace

std::vector<Address> usable(const std::vector<Address>& list) {
    std::vector<Address> kept;
    for (const Address& address : list) {
        if (address.ip.starts_with("127.") || address.ip.starts_with("169.254."))
            continue;
        if (hasFourNonEmptyParts(address.ip))
            kept.push_back(address);
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Address& a, const Address& b) {
        bool aWired = a.interface.starts_with("en"), bWired = b.interface.starts_with("en");
        if (aWired != bWired)
            return aWired;
        return a.interface < b.interface;
    });
    return kept;
}

std::vector<Address> localAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    std::vector<Address> found;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        if (entry->ifa_addr->sa_family != AF_INET)
            continue;
        char host[1025];
        if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                        NI_NUMERICHOST) != 0)
            continue;
        found.push_back({entry->ifa_name, host});
    }
    freeifaddrs(list);
    return usable(found);
}

bool isPrivate(const std::string& ip) {
    std::vector<int> numbers;
    for (const std::string& part : text::split(ip, '.', false)) {
        if (auto number = text::parseDecimal(part))
            numbers.push_back(static_cast<int>(std::clamp<long long>(*number, -1, 256)));
    }
    if (numbers.size() != 4)
        return false;
    for (int n : numbers)
        if (n < 0 || n > 255)
            return false;
    return numbers[0] == 10 || (numbers[0] == 172 && numbers[1] >= 16 && numbers[1] <= 31) ||
           (numbers[0] == 192 && numbers[1] == 168);
}

bool isLinkLocal(const std::string& ip) {
    return ip.starts_with("169.254.");
}

bool canConnect(const std::string& host, int port, double timeout) {
    if (port < 0 || port > 65535)
        return false;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool connected = false;
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            connected = true;
        } else if (errno == EINPROGRESS) {
            pollfd waiter{fd, POLLOUT, 0};
            if (::poll(&waiter, 1, static_cast<int>(timeout * 1000)) == 1) {
                int error = 0;
                socklen_t length = sizeof error;
                connected =
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
            }
        }
    }
    ::close(fd);
    return connected;
}

int countEstablishedInTable(const std::string& table, int port) {
    static constexpr const char* established = "01";
    int count = 0;
    for (const std::string& line : text::split(table, '\n', false)) {
        std::vector<std::string> fields = text::split(line, ' ', false);
        // sl local_address rem_address st ...; the header line has no colon
        // in its second field.
        if (fields.size() < 4 || fields[3] != established)
            continue;
        size_t colon = fields[1].rfind(':');
        if (colon == std::string::npos)
            continue;
        unsigned long localPort = 0;
        const char* begin = fields[1].data() + colon + 1;
        const char* end = fields[1].data() + fields[1].size();
        auto [stop, error] = std::from_chars(begin, end, localPort, 16);
        if (error == std::errc() && stop == end && static_cast<long>(localPort) == port)
            ++count;
    }
    return count;
}

int connectedClients(int port) {
    return countEstablishedInTable(text::readFile("/proc/net/tcp").value_or(""), port) +
           countEstablishedInTable(text::readFile("/proc/net/tcp6").value_or(""), port);
}

std::optional<std::string> parsePublicIP(const std::string& body) {
    std::string trimmed = text::trimmed(body);
    std::vector<std::string> parts = text::split(trimmed, '.', true);
    if (parts.size() != 4)
        return std::nullopt;
    for (const std::string& part : parts) {
        if (part.empty() || part.size() > 3 ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        if (std::stoi(part) > 255)
            return std::nullopt;
    }
    return trimmed;
}

} // namespace corvane::app::NetInfo
