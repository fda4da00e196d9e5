// How to reach this computer: its usable IPv4 addresses, whether the server
// answers, how many clients are connected, the public address, and the text
// of the Test Connection report. Everything that blocks is for background
// threads.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace corvane::app {

struct Address {
    std::string interface;
    std::string ip;
    bool operator==(const Address&) const = default;
};

namespace NetInfo {

std::vector<Address> localAddresses();
std::vector<Address> usable(const std::vector<Address>& list);
bool isPrivate(const std::string& ip);
bool isLinkLocal(const std::string& ip);
bool canConnect(const std::string& host, int port, double timeout = 2.0);

// Established inbound TCP connections to `port`, from the kernel's table.
int connectedClients(int port);
// Counts the lines of a /proc/net/tcp or tcp6 table in state ESTABLISHED
// whose local port is `port`.
int countEstablishedInTable(const std::string& table, int port);

std::optional<std::string> publicIP(const std::string& serverBase);
std::optional<std::string> publicIP();
std::optional<std::string> parsePublicIP(const std::string& text);

std::string afterRestartNote(bool opensAtLogin);
std::string report(int port, bool running, const std::vector<Address>& addresses, bool listening,
                   const std::optional<std::string>& publicIP, bool opensAtLogin);

} // namespace NetInfo

} // namespace corvane::app
