// The codec a real client gets for each AVC444 setting of the launch plan:
// H.264 either way, in its 4:2:0 form when AVC444 is off.
#include <memory>

#include <gtest/gtest.h>

#include "e2e_session.h"

using namespace e2e;

// Both servers run at once: the statistics file is written a minute after
// the first, and the two waits overlap.
TEST(CodecAgreement, EachAvc444SettingGivesItsH264Form) {
    const struct {
        const char* avc444Flag;
        const char* agreed; // the server's log line naming the agreed codec
        const char* frames; // the codec of the frames the client receives
    } settings[] = {
        {"-gfx-avc444", "agreed with 127.0.0.1: H.264 AVC420", "are encoded with AVC420"},
        {"+gfx-avc444", "agreed with 127.0.0.1: H.264 AVC444", "are encoded with AVC444"},
    };
    std::vector<std::unique_ptr<Session>> sessions;
    for (const auto& setting : settings) {
        Session& s = *sessions.emplace_back(
            std::make_unique<Session>(suites::codec, "640x480x24", "800x600x24"));
        ASSERT_TRUE(s.ok() && setRootColour(s.serverDisplay(), "#3366cc"));
        ASSERT_TRUE(s.startServer({"-auth", "/sec:tls", setting.avc444Flag},
                                  {{"MAC_SHADOW_STATS_FILE", s.dir().file("stats.json")}}));
        E2E_SKIP_IF_HOOK_UNVERIFIED(s, "gfx-codec");
        ASSERT_TRUE(s.startClient({"/sec:tls", "/u:x", "/p:x", "/size:640x480"}));
    }
    for (size_t i = 0; i < std::size(settings); ++i) {
        SCOPED_TRACE(settings[i].avc444Flag);
        Session& s = *sessions[i];
        // H.264 shifts colours by a few units.
        EXPECT_TRUE(s.clientShows(0x3366cc, 320, 240, 20000ms, 8));
        EXPECT_TRUE(s.serverSays(settings[i].agreed, 10000ms));
        EXPECT_TRUE(s.serverSays(settings[i].frames, 10000ms));
        const std::string stats = s.dir().file("stats.json");
        EXPECT_TRUE(waitUntil([&] { return fileContains(stats, "\"clients\":\"unix/h264\""); },
                              90000ms, 500ms))
            << readFile(stats);
    }
}
