#include "e2e_suites.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "e2e_harness.h"

namespace e2e {

Slot::Slot(const Suite& suite, std::chrono::milliseconds limit) {
    const int ports = suite.lastPort - suite.firstPort + 1;
    const int slots =
        std::min((suite.lastDisplay - suite.firstDisplay + 1) / 2, ports > 0 ? ports : INT_MAX);
    // The lock of a slot ends with its holder, also when the holder crashes.
    auto claim = [&](int i) {
        const int display = suite.firstDisplay + 2 * i;
        const int port = ports > 0 ? suite.firstPort + i : 0;
        const std::string path = "/tmp/corvane-e2e-slot-" + std::to_string(display) + ".lock";
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 && !displayInUse(display) &&
            !displayInUse(display + 1) && (port == 0 || !portOpen(port))) {
            lock_ = fd, display_ = display, port_ = port;
            return true;
        }
        if (fd >= 0)
            close(fd);
        return false;
    };
    waitUntil(
        [&] {
            for (int i = 0; i < slots; ++i)
                if (claim(i))
                    return true;
            return false;
        },
        limit, 200ms);
    if (!ok())
        std::fprintf(stderr, "e2e: no free slot on displays :%d-:%d\n", suite.firstDisplay,
                     suite.lastDisplay);
}

Slot::~Slot() {
    if (lock_ >= 0)
        close(lock_);
}

} // namespace e2e
