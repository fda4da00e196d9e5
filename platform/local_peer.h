// Who is at the other end of a local (Unix domain) stream socket: the user
// the connecting process runs as, as the kernel vouches for it. A backend
// free service: one answer per operating system.
#pragma once
#include <cstdint>
#include <optional>

namespace corvane::platform {

// The peer's user id, or nothing when the kernel cannot tell (not a local
// socket, or the call failed).
std::optional<uint32_t> localPeerUid(int fd);

} // namespace corvane::platform
