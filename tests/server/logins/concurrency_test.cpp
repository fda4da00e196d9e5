// Logins from several client threads at once: no count may be lost and the
// connection limit must hold exactly.
#include <functional>
#include <thread>
#include <vector>

#include "login_fixture.h"

using namespace login_test;

namespace {

class ConcurrentLogins : public LoginTest {};

constexpr int kThreads = 8;

// Runs work(t) for t from 0 on kThreads threads at once, and waits for them.
void onThreads(const std::function<void(int)>& work) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back(work, t);
    for (std::thread& t : threads)
        t.join();
}

} // namespace

TEST_F(ConcurrentLogins, WrongPasswordsFromManyThreadsAreAllCounted) {
    accounts().set("alice", "right-pw");
    FakeConnection* c = connect("203.0.113.9");
    ASSERT_NE(c, nullptr);
    constexpr int kPerThread = 40;
    onThreads([&](int) {
        for (int i = 0; i < kPerThread; i++)
            mac_login::authenticate(record(), &c->client, "203.0.113.9", "alice", nullptr, "wrong");
    });
    // The clock stands still: only the first attempts reach the check, the
    // rest are refused by the lock; every check that failed was counted.
    const int failures = mac_logic_lockout_failures(&record()->lockoutTable, "203.0.113.9");
    EXPECT_EQ(failures, LogCapture::count("as 'alice': wrong password (")) << LogCapture::all();
    EXPECT_EQ(failures + LogCapture::count("refused: locked out"), kThreads * kPerThread);
    EXPECT_GE(failures, 3);
}

TEST_F(ConcurrentLogins, FailuresFromManyAddressesInParallelLoseNothing) {
    FakeConnection* c = connect("203.0.113.10");
    ASSERT_NE(c, nullptr);
    onThreads([&](int t) {
        const std::string address = "10.9.0." + std::to_string(t);
        for (int i = 0; i < 50; i++) {
            mac_login::countFailure(record(), address.c_str(), nullptr);
            advance(0);
        }
    });
    for (int t = 0; t < kThreads; t++) {
        const std::string address = "10.9.0." + std::to_string(t);
        EXPECT_EQ(mac_logic_lockout_failures(&record()->lockoutTable, address.c_str()), 50)
            << address;
    }
}

TEST_F(ConcurrentLogins, ConnectionLimitHoldsExactlyUnderRaces) {
    std::atomic<int> admitted{0};
    onThreads([&](int) {
        for (int i = 0; i < 5; i++)
            admitted += mac_login::connectionAllowed(record(), "127.0.0.1") ? 1 : 0;
    });
    EXPECT_EQ(admitted.load(), 15);
}
