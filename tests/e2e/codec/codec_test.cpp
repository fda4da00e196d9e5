// The codec a real client gets for each AVC444 setting of the launch plan:
// H.264 either way, in its 4:2:0 form when AVC444 is off.
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "e2e_harness.h"
#include "x11_probe.h"

using namespace e2e;

namespace {

struct Setting {
    const char* avc444Flag;
    const char* agreed; // the server's log line naming the agreed codec
    const char* frames; // the codec of the frames the client receives
};

// Both servers run at once: the statistics file is written a minute after
// the first, and the two waits overlap.
class CodecSession {
  public:
    CodecSession(int display, int port, const Setting& setting)
        : server_(display, "640x480x24"), client_(display + 1, "800x600x24"), port_(port),
          setting_(setting) {}

    bool start() {
        if (!server_.ok() || !client_.ok() ||
            run({"xsetroot", "-solid", "#3366cc"}, {{"DISPLAY", server_.name()}}, 5000ms) !=
                std::optional<int>(0))
            return false;
        auto env = isolatedServerEnv(dir_, server_.name());
        env["MAC_SHADOW_STATS_FILE"] = dir_.file("stats.json");
        if (!serverProcess_.start({CORVANE_SERVER_BIN, "/port:" + std::to_string(port_), "-auth",
                                   "/sec:tls", setting_.avc444Flag},
                                  env, dir_.file("server.log"), dir_.file("server.log")) ||
            !waitUntil([&] { return portOpen(port_); }, 10000ms))
            return false;
        return clientProcess_.start({"xfreerdp3", "/v:127.0.0.1:" + std::to_string(port_),
                                     "/cert:ignore", "/sec:tls", "/u:x", "/p:x", "/size:640x480"},
                                    {{"DISPLAY", client_.name()}, {"HOME", dir_.path()}},
                                    dir_.file("client.log"), dir_.file("client.log"));
    }
    // H.264 shifts colours by a few units.
    bool clientShowsTheDesktop() {
        return waitUntil(
            [&] {
                const auto rgb = pixelAt(client_.name(), 320, 240);
                if (!rgb)
                    return false;
                auto near = [](uint32_t a, uint32_t b) { return std::abs(int(a) - int(b)) <= 8; };
                return near(*rgb >> 16, 0x33) && near((*rgb >> 8) & 0xff, 0x66) &&
                       near(*rgb & 0xff, 0xcc);
            },
            20000ms, 100ms);
    }
    bool logShows(const std::string& text) {
        return waitUntil([&] { return fileContains(dir_.file("server.log"), text); }, 10000ms);
    }
    bool statisticsShow(const std::string& text) {
        return waitUntil([&] { return fileContains(dir_.file("stats.json"), text); }, 90000ms,
                         500ms);
    }
    std::string log() const { return readFile(dir_.file("server.log")); }
    std::string stats() const { return readFile(dir_.file("stats.json")); }

  private:
    Xvfb server_, client_;
    int port_;
    Setting setting_;
    TempDir dir_;
    Process serverProcess_, clientProcess_;
};

} // namespace

TEST(CodecAgreement, EachAvc444SettingGivesItsH264Form) {
    const Setting settings[] = {
        {"-gfx-avc444", "agreed with 127.0.0.1: H.264 AVC420", "are encoded with AVC420"},
        {"+gfx-avc444", "agreed with 127.0.0.1: H.264 AVC444", "are encoded with AVC444"},
    };
    std::vector<std::unique_ptr<CodecSession>> sessions;
    for (size_t i = 0; i < std::size(settings); ++i) {
        sessions.push_back(std::make_unique<CodecSession>(
            186 + 2 * static_cast<int>(i), 24931 + static_cast<int>(i), settings[i]));
        ASSERT_TRUE(sessions.back()->start()) << sessions.back()->log();
    }
    for (size_t i = 0; i < std::size(settings); ++i) {
        SCOPED_TRACE(settings[i].avc444Flag);
        CodecSession& s = *sessions[i];
        EXPECT_TRUE(s.clientShowsTheDesktop()) << s.log();
        EXPECT_TRUE(s.logShows(settings[i].agreed)) << s.log();
        EXPECT_TRUE(s.logShows(settings[i].frames)) << s.log();
        EXPECT_TRUE(s.statisticsShow("\"clients\":\"unix/h264\"")) << s.stats();
    }
}
