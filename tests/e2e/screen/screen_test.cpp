// The screen reaches the client: colours and changes, also after the X
// server restarted under the client.
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <unistd.h>

#include <gtest/gtest.h>

#include "e2e_harness.h"
#include "x11_probe.h"

using namespace e2e;

namespace {

const std::string kServer = CORVANE_SERVER_BIN;

// Planar only: the client's picture then equals the server's pixel for pixel.
const std::vector<std::string> kLosslessFlags = {"-gfx-progressive", "-gfx-rfx", "-gfx-avc420",
                                                 "-gfx-avc444"};

std::map<std::string, std::string> serverEnv(const TempDir& dir, const std::string& display) {
    auto env = isolatedServerEnv(dir, display);
    env["MAC_SHADOW_STATS_FILE"] = dir.file("stats.json");
    return env;
}

class Session {
  public:
    Session(int serverDisplay, int clientDisplay, int port)
        : server_(serverDisplay, "1280x800x24"), client_(clientDisplay, "1400x900x24"),
          port_(port) {}

    bool displaysOk() const { return server_.ok() && client_.ok(); }
    std::string serverDisplay() const { return server_.name(); }
    std::string clientDisplay() const { return client_.name(); }
    const TempDir& dir() const { return dir_; }

    bool startServer(const std::vector<std::string>& codecFlags = kLosslessFlags) {
        std::vector<std::string> argv = {kServer, "/port:" + std::to_string(port_), "-auth",
                                         "/sec:tls"};
        argv.insert(argv.end(), codecFlags.begin(), codecFlags.end());
        return serverProcess_.start(argv, serverEnv(dir_, server_.name()), dir_.file("server.log"),
                                    dir_.file("server.log")) &&
               waitUntil([&] { return portOpen(port_); }, 10000ms);
    }
    bool startClient() {
        return clientProcess_.start({"xfreerdp3", "/v:127.0.0.1:" + std::to_string(port_),
                                     "/cert:ignore", "/sec:tls", "/u:x", "/p:x", "/size:1280x800"},
                                    {{"DISPLAY", client_.name()}, {"HOME", dir_.path()}},
                                    dir_.file("client.log"), dir_.file("client.log"));
    }
    void stopClient() { clientProcess_.stop(); }
    bool clientShows(uint32_t rgb, Duration limit) {
        return waitUntil([&] { return pixelAt(client_.name(), 640, 400) == rgb; }, limit, 100ms);
    }
    Process& server() { return serverProcess_; }
    std::string serverLog() const { return readFile(dir_.file("server.log")); }

  private:
    Xvfb server_, client_;
    int port_;
    TempDir dir_;
    Process serverProcess_, clientProcess_;
};

size_t openDescriptors(pid_t pid) {
    std::error_code error;
    size_t count = 0;
    for (auto it =
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

bool setRootColour(const std::string& display, const std::string& colour) {
    return run({"xsetroot", "-solid", colour}, {{"DISPLAY", display}}, 5000ms) ==
           std::optional<int>(0);
}

} // namespace

// A TLS client sees the server's colours and their changes, and a scrolling
// terminal keeps changing on it; SIGTERM then ends the server cleanly.
TEST(ScreenToClient, ClientShowsTheServerColoursAndTheirChanges) {
    Session s(73, 74, 24711);
    ASSERT_TRUE(s.displaysOk());
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#3366cc"));
    ASSERT_TRUE(s.startServer()) << s.serverLog();
    EXPECT_TRUE(waitUntil(
        [&] {
            const std::string log = s.serverLog();
            return log.find("Screen Recording permission: granted") != std::string::npos &&
                   log.find("Accessibility permission: granted (keyboard injection allowed)") !=
                       std::string::npos;
        },
        5000ms))
        << s.serverLog();
    ASSERT_TRUE(s.startClient());
    EXPECT_TRUE(s.clientShows(0x3366cc, 15000ms)) << s.serverLog();
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#cc3322"));
    EXPECT_TRUE(s.clientShows(0xcc3322, 5000ms));
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#22aa44"));
    EXPECT_TRUE(s.clientShows(0x22aa44, 5000ms));
    EXPECT_NE(s.serverLog().find("client ready, sending full frames for a few seconds"),
              std::string::npos);
    EXPECT_NE(s.serverLog().find("is activated"), std::string::npos);

    Process xterm;
    ASSERT_TRUE(xterm.start(
        {"xterm", "-geometry", "80x24+0+0", "-e", "sh", "-c",
         "i=0; while :; do echo scrolling line $i; i=$((i+1)); sleep 0.05; done"},
        {{"DISPLAY", s.serverDisplay()}}, s.dir().file("xterm.log"), s.dir().file("xterm.log")));
    std::set<uint64_t> seen;
    waitUntil(
        [&] {
            if (auto sum = areaChecksum(s.clientDisplay(), 0, 0, 300, 200))
                seen.insert(*sum);
            return seen.size() >= 6;
        },
        20000ms, 150ms);
    EXPECT_GE(seen.size(), 6u) << s.serverLog();
    xterm.stop();

    EXPECT_TRUE(s.server().running()) << "the server must survive a client";
    s.stopClient();
    s.server().signal(SIGTERM);
    EXPECT_EQ(s.server().waitExit(10000ms), std::optional<int>(0));
    EXPECT_NE(s.serverLog().find("SIGTERM: stopping"), std::string::npos);
    EXPECT_NE(s.serverLog().find("SIGTERM: server exiting"), std::string::npos);
}

struct CodecCase {
    const char* codec;
    std::vector<std::string> flags;
    int tolerance;    // per colour channel
    size_t mostApart; // pixels further apart than that (edges of lossy tiles)
    int serverDisplay, clientDisplay, port;
};

// Small changes reach the client and nothing around them goes stale: the
// client's picture equals the server's (planar pixel for pixel, the wavelet
// codecs within their loss) soon after each move of a small window, before
// the full repaint that follows a second of quiet would mend a missed part.
TEST(ScreenToClient, AfterSmallChangesTheClientsPictureEqualsTheServers) {
    const CodecCase cases[] = {
        {"planar", kLosslessFlags, 0, 0, 77, 78, 24712},
        {"RemoteFX", {"-gfx-avc420", "-gfx-avc444"}, 16, 100, 160, 161, 24720},
        {"progressive", {"-gfx-rfx", "-gfx-avc420", "-gfx-avc444"}, 16, 100, 162, 163, 24721},
    };
    for (const CodecCase& c : cases) {
        SCOPED_TRACE(c.codec);
        Session s(c.serverDisplay, c.clientDisplay, c.port);
        ASSERT_TRUE(s.displaysOk());
        ASSERT_TRUE(setRootColour(s.serverDisplay(), "#3366cc"));
        ASSERT_TRUE(s.startServer(c.flags)) << s.serverLog();
        ASSERT_TRUE(s.startClient());
        ASSERT_TRUE(waitUntil([&] { return fileContains(s.dir().file("server.log"),
                                                        std::string("encoded with ") + c.codec); },
                              15000ms))
            << s.serverLog();
        const std::map<std::string, std::string> onServer = {{"DISPLAY", s.serverDisplay()}};
        // The pointer rests in the bottom rows, which are left out: the
        // picture shows the server's cursor where its own screen does not.
        run({"xdotool", "mousemove", "1270", "795"}, {{"DISPLAY", s.clientDisplay()}}, 5000ms);
        auto pictureMatches = [&](Duration limit) {
            return waitUntil(
                [&] {
                    const auto apart = pixelsApart(s.serverDisplay(), s.clientDisplay(), 0, 0,
                                                   1280, 760, c.tolerance);
                    return apart && *apart <= c.mostApart;
                },
                limit, 20ms);
        };

        Process window;
        ASSERT_TRUE(window.start({"xterm", "-bg", "#cc3322", "-geometry", "20x4+200+150", "-e",
                                  "sleep", "60"},
                                 onServer, s.dir().file("xterm.log"), s.dir().file("xterm.log")));
        ASSERT_TRUE(pictureMatches(5000ms));
        std::string id;
        run({"xdotool", "search", "--class", "xterm"}, onServer, 5000ms, &id);
        ASSERT_FALSE(id.empty());
        id = id.substr(0, id.find('\n'));
        // A slow moment may miss one or two; a lost part of the picture all.
        int matchedSoon = 0;
        for (int move = 0; move < 5; ++move) {
            const std::string x = std::to_string(100 + 150 * move);
            run({"xdotool", "windowmove", id, x, std::to_string(500 - 80 * move)}, onServer,
                5000ms);
            matchedSoon += pictureMatches(800ms) ? 1 : 0;
            ASSERT_TRUE(pictureMatches(5000ms));
        }
        EXPECT_GE(matchedSoon, 3);
        // The root's new colour goes as fills around the window.
        ASSERT_TRUE(setRootColour(s.serverDisplay(), "#22aa44"));
        EXPECT_TRUE(pictureMatches(5000ms)) << "after the colour changed";
    }
}

// The X server under a connected client crashes and its session starts a
// new one on the same display: the server neither ends nor hangs, and once
// the display is back the client sees it again and its input reaches it.
TEST(ServerLifetime, XServerRestartUnderAConnectedClient) {
    auto serverDisplay = std::make_unique<Xvfb>(94, "800x600x24");
    Xvfb clientDisplay(95, "1024x768x24");
    ASSERT_TRUE(serverDisplay->ok() && clientDisplay.ok());
    ASSERT_TRUE(setRootColour(serverDisplay->name(), "#3366cc"));
    TempDir dir;
    Process server, client;
    std::vector<std::string> argv = {kServer, "/port:24715", "-auth", "/sec:tls"};
    argv.insert(argv.end(), kLosslessFlags.begin(), kLosslessFlags.end());
    ASSERT_TRUE(server.start(argv, serverEnv(dir, serverDisplay->name()), dir.file("server.log"),
                             dir.file("server.log")));
    ASSERT_TRUE(waitUntil([&] { return portOpen(24715); }, 10000ms));
    ASSERT_TRUE(client.start({"xfreerdp3", "/v:127.0.0.1:24715", "/cert:ignore", "/sec:tls", "/u:x",
                              "/p:x", "/size:800x600"},
                             {{"DISPLAY", clientDisplay.name()}, {"HOME", dir.path()}},
                             dir.file("client.log"), dir.file("client.log")));
    // Away from the middle, where the new X server puts its pointer.
    auto clientShows = [&](uint32_t rgb, Duration limit) {
        return waitUntil([&] { return pixelAt(clientDisplay.name(), 700, 500) == rgb; }, limit,
                         100ms);
    };
    ASSERT_TRUE(clientShows(0x3366cc, 15000ms)) << readFile(dir.file("server.log"));
    // The client's pointer moves reach the server's X server.
    int step = 0;
    std::string where;
    auto pointerArrives = [&] {
        return waitUntil(
            [&] {
                const std::string x = std::to_string(200 + (step++ % 20));
                run({"xdotool", "mousemove", x, "150"}, {{"DISPLAY", clientDisplay.name()}},
                    5000ms);
                run({"xdotool", "getmouselocation"}, {{"DISPLAY", serverDisplay->name()}}, 5000ms,
                    &where);
                return where.rfind("x:" + x + " y:150 ", 0) == 0;
            },
            20000ms, 300ms);
    };
    ASSERT_TRUE(pointerArrives()) << where;
    const size_t descriptorsBefore = openDescriptors(server.pid());

    serverDisplay->kill();
    serverDisplay.reset();
    EXPECT_TRUE(waitUntil(
        [&] { return fileContains(dir.file("server.log"), "mac_capture: stream stopped"); },
        10000ms));
    EXPECT_FALSE(server.waitExit(1500ms)) << "a lost display does not end the server";
    serverDisplay = std::make_unique<Xvfb>(94, "800x600x24");
    ASSERT_TRUE(serverDisplay->ok());
    ASSERT_TRUE(setRootColour(serverDisplay->name(), "#cc3322"));
    EXPECT_TRUE(clientShows(0xcc3322, 20000ms)) << readFile(dir.file("server.log"));

    EXPECT_TRUE(pointerArrives()) << where << readFile(dir.file("server.log"));
    // The dead connections were closed, not only replaced.
    EXPECT_LE(openDescriptors(server.pid()), descriptorsBefore);

    server.signal(SIGTERM);
    EXPECT_EQ(server.waitExit(10000ms), std::optional<int>(0)) << readFile(dir.file("server.log"));
    client.stop();
}
