#include "control_peer.h"

#include <cerrno>
#include <cstdio>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace e2e {

ControlPeer::~ControlPeer() {
    if (fd_ >= 0)
        close(fd_);
}

bool ControlPeer::connect(const std::string& path) {
    if (fd_ < 0)
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

// One line, well within the socket's buffer.
bool ControlPeer::request(const std::string& type, uint64_t id, nlohmann::json extra) {
    extra["v"] = 1;
    extra["type"] = type;
    extra["id"] = id;
    const std::string line = extra.dump() + "\n";
    return ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
}

void ControlPeer::readAvailable() {
    char buf[4096];
    for (ssize_t n; (n = read(fd_, buf, sizeof buf)) > 0;)
        pending_.append(buf, static_cast<size_t>(n));
    for (size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
        lines_.push_back(nlohmann::json::parse(pending_.substr(0, nl)));
        pending_.erase(0, nl + 1);
    }
}

std::optional<nlohmann::json> ControlPeer::next(const std::string& type, uint64_t id,
                                                Duration limit) {
    std::optional<nlohmann::json> found;
    waitUntil(
        [&] {
            readAvailable();
            for (auto it = lines_.begin(); it != lines_.end(); ++it)
                if (it->value("type", "") == type && (id == 0 || it->value("id", 0ull) == id)) {
                    found = *it;
                    lines_.erase(it);
                    return true;
                }
            return false;
        },
        limit);
    return found;
}

} // namespace e2e
