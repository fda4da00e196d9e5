// Linux: SO_PEERCRED holds the credentials the peer had when it connected.
#include "platform/local_peer.h"

#include <sys/socket.h>

namespace corvane::platform {

std::optional<uint32_t> localPeerUid(int fd) {
    struct ucred cred {};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
        return std::nullopt;
    return static_cast<uint32_t>(cred.uid);
}

} // namespace corvane::platform
