// The counters the server writes to its statistics file, as one JSON line.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace corvane::app {

struct ServerStats {
    int64_t sessions = 0;
    int64_t repaints = 0;
    int64_t resizes = 0;
    int64_t riskEvents = 0;
    int64_t stalls = 0;
    std::string clients;

    // Nothing unless the bytes hold a JSON object.
    static std::optional<ServerStats> fromJson(const std::string& bytes);
    // The growth since `previous`; the whole record when there is no previous
    // record or any counter went down (the server started afresh).
    ServerStats since(const std::optional<ServerStats>& previous) const;

    bool operator==(const ServerStats&) const = default;
};

} // namespace corvane::app
