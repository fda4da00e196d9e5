// The server's statistics file as the application reads it: two readings
// (before and after, split at the first line feed) and the growth between.
#include <cstdlib>
#include <string>

#include "app/core/server_stats.h"

using corvane::app::ServerStats;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const size_t split = bytes.find('\n');
    const auto before = ServerStats::fromJson(bytes.substr(0, split));
    const auto after =
        ServerStats::fromJson(split == std::string::npos ? bytes : bytes.substr(split + 1));
    if (!after)
        return 0;
    const ServerStats growth = after->since(before);
    if (growth.sessions < 0 || growth.repaints < 0 || growth.resizes < 0 || growth.riskEvents < 0 ||
        growth.stalls < 0) {
        // Only a record that was itself negative may give a negative growth.
        if (growth != *after)
            std::abort();
    }
    if (growth.clients != after->clients)
        std::abort();
    return 0;
}
