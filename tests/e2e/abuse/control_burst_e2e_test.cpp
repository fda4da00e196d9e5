// The control channel of the real server process under a burst of bad
// messages written to its socket: random bytes, truncated and broken JSON,
// lines over the size limit, well-formed objects that make no valid request.
// Each gets an error reply, and afterwards the server still serves: a real
// client connects and gets the picture, and a well-formed request on the
// same connection gets its reply.
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "control_peer.h"
#include "e2e_session.h"
#include "x11_probe.h"

using namespace e2e;

namespace {

constexpr size_t kMessages = 1000;
constexpr size_t kOverLimit = 64 * 1024 + 100;

// One bad message, its line end included; none holds a newline inside.
std::string badMessage(std::mt19937& rng) {
    static const std::string valid = R"({"v":1,"type":"set-mode","id":1,"mode":"view"})";
    static const char* const wellFormedButWrong[] = {
        R"({"v":2,"type":"answer","id":1,"answer":"allow"})",
        R"({"v":1,"type":"no-such-request","id":1})",
        R"({"v":1,"type":"answer","id":1,"answer":"perhaps"})",
        R"({"v":1,"type":"set-mode","id":-1,"mode":"control"})",
        R"({"v":1,"type":"disconnect","id":18446744073709551616})",
        R"({"v":1,"type":"answer","id":"1","answer":"allow"})",
        R"({"v":1,"type":"answer","id":424242,"answer":"allow"})",
        R"([{"v":1,"type":"disconnect","id":1}])",
        R"("just a string")",
        R"({"v":1,"type":"set-mode","id":1,"mode":"view","v":1})",
    };
    std::string m;
    switch (rng() % 6) {
    case 0: // random bytes
        m.resize(rng() % 300);
        for (char& c : m)
            c = static_cast<char>(rng() % 256);
        break;
    case 1: // truncated
        m = valid.substr(0, rng() % valid.size());
        break;
    case 2: // broken: one byte of a valid line replaced
        m = valid;
        m[rng() % m.size()] = static_cast<char>(rng() % 256);
        break;
    case 3:
        m = wellFormedButWrong[rng() % std::size(wellFormedButWrong)];
        break;
    case 4: // deep nesting
        m = std::string(1 + rng() % 20000, '[');
        break;
    default: // over the size limit
        m = std::string(kOverLimit, '{');
        break;
    }
    for (char& c : m)
        if (c == '\n')
            c = ' ';
    return m + "\n";
}

TEST(ControlBurst, TheServerStillServesAfterAThousandBadMessages) {
    Session s(suites::abuse, "1024x768x24", "1024x768x24");
    ASSERT_TRUE(s.ok());
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#22aa44"));
    const std::string path = s.dir().file("run/control");
    ASSERT_TRUE(s.startServer(
        {"-auth", "/sec:tls"},
        {{"CORVANE_PLATFORM", "x11"}, {"MAC_SHADOW_AUDIO", "0"}, {"MAC_SHADOW_CONTROL", path}}));
    ControlPeer app;
    ASSERT_TRUE(waitUntil([&] { return app.connect(path); }, 10000ms));

    std::mt19937 rng(19);
    std::string burst;
    for (size_t i = 0; i < kMessages; ++i)
        burst += badMessage(rng);
    ASSERT_TRUE(app.sendRaw(burst));
    EXPECT_EQ(app.takeAll("error", kMessages, 30000ms), kMessages) << "one error per message";
    EXPECT_TRUE(s.server().running());

    ASSERT_TRUE(s.startClient({"/sec:tls", "/u:x", "/p:x", "/size:1024x768", "-decorations"}));
    EXPECT_TRUE(s.clientShows(0x22aa44, 300, 300, 20000ms, 12)) << "a client gets the picture";
    auto ready = app.next("client-ready", 0, 15000ms);
    ASSERT_TRUE(ready);
    const uint64_t id = (*ready)["id"];
    ASSERT_TRUE(app.request("set-mode", id, {{"mode", "view"}}));
    auto ok = app.next("ok", id, 10000ms);
    ASSERT_TRUE(ok) << "a well-formed request gets its reply";
    EXPECT_EQ((*ok)["request"], "set-mode");
    auto mode = app.next("mode", id, 10000ms);
    ASSERT_TRUE(mode);
    EXPECT_EQ((*mode)["mode"], "view");
}

} // namespace
