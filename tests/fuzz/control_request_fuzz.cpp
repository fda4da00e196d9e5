// Request lines as any process of the server's user may send them: the
// parser answers every line with a request or a reason, and a request it
// reads names a known type and a client.
#include <cstdlib>
#include <string_view>

#include "server/shadow/Mac/control/control_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const mac_control::Parsed parsed = mac_control::parseRequest(line);
    if (const auto* error = std::get_if<mac_control::ParseError>(&parsed)) {
        if (error->message.empty())
            std::abort();
        // Every refusal is itself a well-formed reply line.
        const std::string reply = mac_control::errorReply(error->type, error->message);
        if (reply.empty() || reply.back() != '\n' || reply.find('\n') != reply.size() - 1)
            std::abort();
        return 0;
    }
    const auto& request = std::get<mac_control::Request>(parsed);
    const std::string_view type = mac_control::requestType(request);
    if (type != "set-mode" && type != "disconnect" && type != "answer")
        std::abort();
    return 0;
}
