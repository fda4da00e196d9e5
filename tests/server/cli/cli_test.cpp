// The executable's own decisions about its command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// "--help" and "--version" reach the library as its own switches; nothing
// else changes, and the line stays terminated.
TEST(ServerArguments, GnuSpellingsOfHelpAndVersionBecomeTheLibrarys) {
    const struct {
        std::vector<std::string> in;
        std::vector<std::string> out;
    } cases[] = {
        {{"srv", "--help"}, {"srv", "/help"}},
        {{"srv", "/port:3389", "--version"}, {"srv", "/port:3389", "/version"}},
        {{"srv", "+auth", "/help"}, {"srv", "+auth", "/help"}},
        {{"srv", "--helpful", "-help"}, {"srv", "--helpful", "-help"}},
        {{"--help"}, {"--help"}}, // the program's own name is never a switch
    };
    for (const auto& c : cases) {
        std::vector<std::string> storage = c.in;
        std::vector<char*> argv;
        for (auto& s : storage)
            argv.push_back(s.data());
        const std::vector<char*> line =
            corvane_server_argv(static_cast<int>(argv.size()), argv.data());
        ASSERT_EQ(line.size(), c.out.size() + 1);
        EXPECT_EQ(line.back(), nullptr);
        for (size_t i = 0; i < c.out.size(); ++i)
            EXPECT_STREQ(line[i], c.out[i].c_str());
    }
}
