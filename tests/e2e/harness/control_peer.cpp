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

bool ControlPeer::send(const nlohmann::json& request) {
    return sendRaw(request.dump() + "\n");
}

bool ControlPeer::request(const std::string& type, uint64_t id, nlohmann::json extra) {
    extra["v"] = 1;
    extra["type"] = type;
    extra["id"] = id;
    return send(extra);
}

// The server stops reading a peer whose replies back up, so replies are
// taken in while the bytes go out.
bool ControlPeer::sendRaw(const std::string& bytes) {
    size_t sent = 0;
    waitUntil(
        [&] {
            while (sent < bytes.size()) {
                const ssize_t n =
                    ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
            readAvailable();
            return sent == bytes.size();
        },
        30000ms, 5ms);
    return sent == bytes.size();
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

size_t ControlPeer::takeAll(const std::string& type, size_t expected, Duration limit) {
    size_t taken = 0;
    waitUntil(
        [&] {
            readAvailable();
            taken += static_cast<size_t>(std::erase_if(
                lines_, [&](const nlohmann::json& l) { return l.value("type", "") == type; }));
            return taken >= expected;
        },
        limit);
    return taken;
}

} // namespace e2e
