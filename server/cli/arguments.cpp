#include "arguments.h"

#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {
// Value, default and help texts follow the shadow library's own switches so
// that `/help` reads the same; `server-side-cursor` is ours.
COMMAND_LINE_ARGUMENT_A gArguments[] = {
    {"log-filters", COMMAND_LINE_VALUE_REQUIRED, "<tag>:<level>[,<tag>:<level>[,...]]", nullptr,
     nullptr, -1, nullptr, "Set logger filters, see wLog(7) for details"},
    {"log-level", COMMAND_LINE_VALUE_REQUIRED, "[OFF|FATAL|ERROR|WARN|INFO|DEBUG|TRACE]", nullptr,
     nullptr, -1, nullptr, "Set the default log level, see wLog(7) for details"},
    {"port", COMMAND_LINE_VALUE_REQUIRED, "<number>", nullptr, nullptr, -1, nullptr, "Server port"},
    {"ipc-socket", COMMAND_LINE_VALUE_REQUIRED, "<ipc-socket>", nullptr, nullptr, -1, nullptr,
     "Server IPC socket"},
    {"bind-address", COMMAND_LINE_VALUE_REQUIRED, "<address>[,<address>...]", nullptr, nullptr, -1,
     nullptr, "Addresses to listen on ('[::1]' style for IPv6)"},
    {"server-side-cursor", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueFalse, nullptr, -1, nullptr,
     "Send the desktop's cursor image; the client draws the cursor"},
    {"monitors", COMMAND_LINE_VALUE_OPTIONAL, "<0,1,2...>", nullptr, nullptr, -1, nullptr,
     "Select or list monitors"},
    {"max-connections", COMMAND_LINE_VALUE_REQUIRED, "<number>", nullptr, nullptr, -1, nullptr,
     "Maximum connections at once, 0 for no limit"},
    {"rect", COMMAND_LINE_VALUE_REQUIRED, "<x,y,w,h>", nullptr, nullptr, -1, nullptr,
     "Share only this rectangle of the monitor"},
    {"auth", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Clients must authenticate"},
    {"may-view", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Clients may view without prompt"},
    {"may-interact", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Clients may interact without prompt"},
    {"sec", COMMAND_LINE_VALUE_REQUIRED, "<rdp|tls|nla|ext>", nullptr, nullptr, -1, nullptr,
     "Force one protocol security"},
    {"sec-rdp", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "RDP protocol security"},
    {"sec-tls", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "TLS protocol security"},
    {"sec-nla", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "NLA protocol security"},
    {"sec-ext", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueFalse, nullptr, -1, nullptr,
     "NLA extended protocol security"},
    {"sam-file", COMMAND_LINE_VALUE_REQUIRED, "<file>", nullptr, nullptr, -1, nullptr,
     "NTLM SAM file for NLA authentication"},
    {"tls-secrets-file", COMMAND_LINE_VALUE_REQUIRED, "<file>", nullptr, nullptr, -1, nullptr,
     "File where TLS secrets are stored"},
    {"nsc", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Allow the NSC codec"},
    {"rfx", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Allow RFX surface bits"},
    {"gfx", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Allow the GFX pipeline"},
    {"gfx-progressive", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Allow the GFX progressive codec"},
    {"gfx-rfx", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Allow the GFX RFX codec"},
    {"gfx-planar", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Allow the GFX planar codec"},
    {"gfx-avc420", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Allow the GFX AVC420 codec"},
    {"gfx-avc444", COMMAND_LINE_VALUE_BOOL, nullptr, BoolValueTrue, nullptr, -1, nullptr,
     "Allow the GFX AVC444 codec"},
    {"version", COMMAND_LINE_VALUE_FLAG | COMMAND_LINE_PRINT_VERSION, nullptr, nullptr, nullptr, -1,
     nullptr, "Print version"},
    {"buildconfig", COMMAND_LINE_VALUE_FLAG | COMMAND_LINE_PRINT_BUILDCONFIG, nullptr, nullptr,
     nullptr, -1, nullptr, "Print the build configuration"},
    {"help", COMMAND_LINE_VALUE_FLAG | COMMAND_LINE_PRINT_HELP, nullptr, nullptr, nullptr, -1, "?",
     "Print help"},
    {nullptr, 0, nullptr, nullptr, nullptr, -1, nullptr, nullptr},
};
} // namespace

COMMAND_LINE_ARGUMENT_A* corvane_server_arguments(void) {
    return gArguments;
}

bool corvane_argument_enabled(COMMAND_LINE_ARGUMENT_A* table, const char* name) {
    const COMMAND_LINE_ARGUMENT_A* arg = CommandLineFindArgumentA(table, name);
    return arg && (arg->Flags & COMMAND_LINE_VALUE_PRESENT) && arg->Value == BoolValueTrue;
}

const char* corvane_argument_value(COMMAND_LINE_ARGUMENT_A* table, const char* name) {
    const COMMAND_LINE_ARGUMENT_A* arg = CommandLineFindArgumentA(table, name);
    return arg && (arg->Flags & COMMAND_LINE_VALUE_PRESENT) ? arg->Value : nullptr;
}

std::vector<char*> corvane_server_argv(int argc, char** argv) {
    static char help[] = "/help";
    static char version[] = "/version";
    std::vector<char*> out(argv, argv + argc);
    for (size_t i = 1; i < out.size(); ++i) {
        if (std::strcmp(out[i], "--help") == 0)
            out[i] = help;
        else if (std::strcmp(out[i], "--version") == 0)
            out[i] = version;
    }
    out.push_back(nullptr);
    return out;
}

namespace {

bool isLoopback(std::string address) {
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    if (address == "localhost")
        return true;
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    return false; // a host name or anything unreadable may be any address
}

} // namespace

bool corvane_reachable_from_network(const char* bindAddresses, const char* ipcSocket) {
    if (ipcSocket && *ipcSocket)
        return false;
    if (!bindAddresses || !*bindAddresses)
        return true;
    const std::string list(bindAddresses);
    size_t start = 0;
    bool any = false;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        const std::string address = list.substr(start, comma - start);
        if (!address.empty()) {
            any = true;
            if (!isLoopback(address))
                return true;
        }
        start = comma + 1;
    }
    return !any;
}
