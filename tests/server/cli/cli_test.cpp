// The executable's own decisions about its command line.
#include <gtest/gtest.h>

#include "server/cli/arguments.h"

TEST(NetworkReach, OnlyLoopbackBindingsOrALocalSocketStayOnThisComputer) {
    const struct {
        const char* bind;
        const char* ipc;
        bool reachable;
    } cases[] = {
        {nullptr, nullptr, true}, // every address
        {"", nullptr, true},
        {"127.0.0.1", nullptr, false},
        {"127.3.4.5", nullptr, false},
        {"localhost", nullptr, false},
        {"[::1]", nullptr, false},
        {"::1", nullptr, false},
        {"[::ffff:127.0.0.1]", nullptr, false},
        {"127.0.0.1,[::1]", nullptr, false},
        {"0.0.0.0", nullptr, true},
        {"192.168.1.20", nullptr, true},
        {"127.0.0.1,192.168.1.20", nullptr, true},
        {"[::]", nullptr, true},
        {"myhost.example", nullptr, true}, // a name may stand for any address
        {"128.0.0.1", nullptr, true},
        {nullptr, "/run/corvane.sock", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(corvane_reachable_from_network(c.bind, c.ipc), c.reachable)
            << (c.bind ? c.bind : "(none)") << " / " << (c.ipc ? c.ipc : "(none)");
}
