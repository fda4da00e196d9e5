// The application's side of the server's control channel, as a test drives
// it: one JSON object per line each way, read without blocking.
#pragma once
#include <deque>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "e2e_harness.h"

namespace e2e {

class ControlPeer {
  public:
    ControlPeer() = default;
    ~ControlPeer();
    ControlPeer(const ControlPeer&) = delete;
    ControlPeer& operator=(const ControlPeer&) = delete;

    bool connect(const std::string& path);
    bool send(const nlohmann::json& request);
    // A request of the type for client `id`, with the fields of `extra`.
    bool request(const std::string& type, uint64_t id,
                 nlohmann::json extra = nlohmann::json::object());
    // The answer to client `id`'s prompt ("allow", "refuse", "view-only").
    bool answer(uint64_t id, const std::string& what) {
        return request("answer", id, {{"answer", what}});
    }
    // Writes the bytes as they are (no line end added).
    bool sendRaw(const std::string& bytes);
    // The first line not yet taken whose type is `type` (for client `id`
    // when not 0), within the limit.
    // Lines of other types stay for later calls: an event and a reply may
    // come in either order.
    std::optional<nlohmann::json> next(const std::string& type, uint64_t id, Duration limit);
    // Takes every line of the type until `expected` were taken or the limit
    // passed; how many it took.
    size_t takeAll(const std::string& type, size_t expected, Duration limit);

  private:
    void readAvailable();

    int fd_ = -1;
    std::string pending_;
    std::deque<nlohmann::json> lines_;
};

} // namespace e2e
