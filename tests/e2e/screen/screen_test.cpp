// The screen reaches the client: colours and changes, also after the X
// server restarted under the client.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "e2e_session.h"

using namespace e2e;

namespace {

// Our server, with a statistics file and the codec flags.
bool startServer(Session& s, const std::vector<std::string>& codecFlags = kPlanarOnly) {
    std::vector<std::string> args = {"-auth", "/sec:tls"};
    args.insert(args.end(), codecFlags.begin(), codecFlags.end());
    return s.startServer(args, {{"MAC_SHADOW_STATS_FILE", s.dir().file("stats.json")}});
}

struct CodecCase {
    const char* codec;
    std::vector<std::string> flags;
    int tolerance;    // per colour channel
    size_t mostApart; // pixels further apart than that (edges of lossy tiles)
    bool h264;        // whole pictures, where the others send tiles
};

const CodecCase kCodecs[] = {
    {"planar", kPlanarOnly, 0, 0, false},
    {"RemoteFX", {"-gfx-avc420", "-gfx-avc444"}, 16, 100, false},
    {"progressive", {"-gfx-rfx", "-gfx-avc420", "-gfx-avc444"}, 16, 100, false},
    {"AVC420", {"-gfx-avc444"}, 24, 2000, true},
    {"AVC444", {"+gfx-avc444"}, 24, 2000, true},
};
const CodecCase& kPlanar = kCodecs[0];

// Our server with `c`'s codec on a blue desktop and a 1280x800 client, whose
// pointer rests in the bottom rows: comparisons leave those out, since the
// picture shows the server's cursor where its own screen does not.
void startWatched(Session& s, const CodecCase& c) {
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#3366cc"));
    ASSERT_TRUE(startServer(s, c.flags));
    ASSERT_TRUE(s.startClient({"/sec:tls", "/u:x", "/p:x", "/size:1280x800"}));
    ASSERT_TRUE(s.serverSays(std::string("encoded with ") + c.codec));
    xdotool({{"DISPLAY", s.clientDisplay()}}, {"mousemove", "1270", "795"});
}

// Whether the client's picture equals the server's, within `c`'s loss,
// before `limit`.
bool pictureMatches(Session& s, const CodecCase& c, Duration limit) {
    return waitUntil(
        [&] {
            const auto apart =
                pixelsApart(s.serverDisplay(), s.clientDisplay(), 0, 0, 1280, 760, c.tolerance);
            return apart && *apart <= c.mostApart;
        },
        limit, 20ms);
}

// Runs `loop` in a terminal on the server's desktop, reading numbers from a
// pipe: `first`, until the client's picture matches, then each of `steps`.
// Each step must match within 5 s; `matchedSoon` counts those that matched
// within 500 ms, before a repaint could mend a wrong copy.
void driveTerminal(Session& s, const CodecCase& c, const std::string& loop, int first,
                   const std::vector<int>& steps, int* matchedSoon) {
    const std::string pipe = s.dir().file("numbers");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    Process xterm;
    ASSERT_TRUE(xterm.start(
        {"xterm", "-geometry", "100x45+20+20", "-e", "sh", "-c", loop + " < '" + pipe + "'"},
        {{"DISPLAY", s.serverDisplay()}}, s.dir().file("xterm.log"), s.dir().file("xterm.log")));
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> numbers(std::fopen(pipe.c_str(), "w"),
                                                            std::fclose);
    ASSERT_NE(numbers, nullptr);
    std::fprintf(numbers.get(), "%d\n", first);
    std::fflush(numbers.get());
    ASSERT_TRUE(pictureMatches(s, c, 10000ms));
    *matchedSoon = 0;
    for (const int step : steps) {
        std::fprintf(numbers.get(), "%d\n", step);
        std::fflush(numbers.get());
        *matchedSoon += pictureMatches(s, c, 500ms) ? 1 : 0;
        ASSERT_TRUE(pictureMatches(s, c, 5000ms)) << "step " << step;
    }
}

} // namespace

// Small changes reach the client and nothing around them goes stale: the
// client's picture equals the server's (planar pixel for pixel, the wavelet
// codecs within their loss) soon after each move of a small window, before
// the full repaint that follows a second of quiet would mend a missed part.
TEST(ScreenToClient, AfterSmallChangesTheClientsPictureEqualsTheServers) {
    for (const CodecCase& c : kCodecs) {
        if (c.h264)
            continue;
        SCOPED_TRACE(c.codec);
        Session s(suites::screen, "1280x800x24", "1400x900x24");
        ASSERT_TRUE(s.ok());
        ASSERT_NO_FATAL_FAILURE(startWatched(s, c));
        const std::map<std::string, std::string> onServer = {{"DISPLAY", s.serverDisplay()}};
        const auto pictureMatches = [&](Duration limit) { return ::pictureMatches(s, c, limit); };

        Process window;
        ASSERT_TRUE(window.start(
            {"xterm", "-bg", "#cc3322", "-geometry", "20x4+200+150", "-e", "sleep", "60"}, onServer,
            s.dir().file("xterm.log"), s.dir().file("xterm.log")));
        // The picture matches also before the window shows.
        std::string id;
        ASSERT_TRUE(waitUntil(
            [&] {
                return xdotool(onServer, {"search", "--onlyvisible", "--class", "xterm"}, &id);
            },
            10000ms));
        id = id.substr(0, id.find('\n'));
        ASSERT_TRUE(pictureMatches(5000ms));
        // A slow moment may miss one or two; a lost part of the picture all.
        int matchedSoon = 0;
        for (int move = 0; move < 5; ++move) {
            const std::string x = std::to_string(100 + 150 * move);
            xdotool(onServer, {"windowmove", id, x, std::to_string(500 - 80 * move)});
            matchedSoon += pictureMatches(800ms) ? 1 : 0;
            ASSERT_TRUE(pictureMatches(5000ms));
        }
        EXPECT_GE(matchedSoon, 3);
        // The root's new colour goes as fills around the window.
        ASSERT_TRUE(setRootColour(s.serverDisplay(), "#22aa44"));
        EXPECT_TRUE(pictureMatches(5000ms)) << "after the colour changed";
    }
}

// A client that falls behind in a burst of changes (stopped while they
// happen, its frames paced by its acknowledgements) shows the server's
// picture soon after it runs again, for each codec: the changes it missed go
// out together, before the full repaint that follows a second of quiet.
TEST(ScreenToClient, AfterABurstTheBehindClientsPictureEqualsTheServers) {
    for (const CodecCase& c : kCodecs) {
        SCOPED_TRACE(c.codec);
        Session s(suites::screen, "1280x800x24", "1400x900x24");
        ASSERT_TRUE(s.ok());
        ASSERT_NO_FATAL_FAILURE(startWatched(s, c));
        const auto pictureMatches = [&](Duration limit) { return ::pictureMatches(s, c, limit); };
        ASSERT_TRUE(pictureMatches(15000ms));
        // A slow moment may miss one; held changes that never went, all.
        int matchedSoon = 0;
        for (int burst = 0; burst < 3; ++burst) {
            s.client().signal(SIGSTOP);
            for (int i = 0; i < 15; ++i) {
                const uint32_t rgb = 0x102030u * static_cast<uint32_t>(1 + i + 15 * burst);
                ASSERT_TRUE(fillRect(s.serverDisplay(), 60 + 70 * i, 80 + 30 * i + 10 * burst, 120,
                                     80, rgb & 0xFFFFFF));
                std::this_thread::sleep_for(40ms);
            }
            s.client().signal(SIGCONT);
            matchedSoon += pictureMatches(800ms) ? 1 : 0;
            ASSERT_TRUE(pictureMatches(5000ms));
        }
        EXPECT_GE(matchedSoon, 2);
    }
}

// A terminal scrolled a few lines at a time goes to a tile-codec client as
// copies inside its surface and the exposed rows; for every codec the
// client's picture equals the server's (planar pixel for pixel, the others
// within their loss) soon after each step (about 150 ms here), before the
// repaints that follow changes (800 ms apart) or a second of quiet would mend
// a wrong copy.
TEST(ScreenToClient, AScrollGoesAsCopiesAndThePictureStaysExact) {
    for (const CodecCase& c : kCodecs) {
        SCOPED_TRACE(c.codec);
        Session s(suites::screen, "1280x800x24", "1400x900x24");
        ASSERT_TRUE(s.ok());
        E2E_SKIP_IF_HOOK_UNVERIFIED(s, "scroll-copy");
        ASSERT_NO_FATAL_FAILURE(startWatched(s, c));
        // The terminal prints as many numbered lines as each number asks.
        int matchedSoon = 0;
        ASSERT_NO_FATAL_FAILURE(driveTerminal(
            s, c,
            "i=0; while read n; do k=0; while [ $k -lt $n ]; do i=$((i+1)); k=$((k+1)); "
            "echo \"line $i of a scrolling text, $((i * 7919 % 10007))\"; done; done",
            60, {3, 7, 11, 15, 19}, &matchedSoon));
        EXPECT_GE(matchedSoon, 4);
        // H.264 frames are whole pictures: nothing to copy.
        EXPECT_EQ(s.serverSays("scrolls go to the client as copies inside its surface", 1000ms),
                  !c.h264);
        // RemoteFX sends whole tiles: the uncovered strips go planar.
        EXPECT_EQ(
            s.serverSays("thin changes of RemoteFX frames go to the client as planar", 1000ms),
            std::string(c.codec) == "RemoteFX");
    }
}

// A terminal's text redrawn some columns further along, as a wide sheet or a
// long line panned sideways, goes to a planar client as copies to the rows'
// new columns and the strip they expose; its picture equals the server's
// pixel for pixel soon after each step, before a repaint could mend a wrong
// copy.
TEST(ScreenToClient, APanGoesAsSidewaysCopiesAndThePictureStaysExact) {
    Session s(suites::screen, "1280x800x24", "1400x900x24");
    ASSERT_TRUE(s.ok());
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "scroll-copy");
    ASSERT_NO_FATAL_FAILURE(startWatched(s, kPlanar));
    // Forty lines of 300 characters; each number names the column the
    // terminal shows them from, redrawn in place in one write (through
    // `cat`), so that a capture seldom falls inside a redraw.
    const std::string text = s.dir().file("text");
    const std::string write =
        "awk 'BEGIN { for (i = 1; i <= 40; i++) { s = \"\"; for (j = 1; length(s) < 300; j++) "
        "s = s sprintf(\"%d:%d \", i, (i * j * 7919) % 10007); print s } }' > '" +
        text + "'";
    const std::string redraw =
        "while read c; do { printf '\\033[H'; cut -c$((c + 1))-$((c + 98)) '" + text +
        "'; } | cat; done";
    int matchedSoon = 0;
    ASSERT_NO_FATAL_FAILURE(
        driveTerminal(s, kPlanar, write + "; " + redraw, 0, {4, 11, 30, 23, 9}, &matchedSoon));
    EXPECT_GE(matchedSoon, 4);
    EXPECT_TRUE(s.serverSays("rows, sideways)", 1000ms));
}

// A window of text dragged across the desktop, both sideways and up or
// down at each step, goes to a planar client as a copy of the window to its
// new place and the desktop it uncovers; the picture equals the server's
// pixel for pixel soon after each step, before a repaint could mend a wrong
// copy.
TEST(ScreenToClient, ADraggedWindowGoesAsADiagonalCopyAndThePictureStaysExact) {
    Session s(suites::screen, "1280x800x24", "1400x900x24");
    ASSERT_TRUE(s.ok());
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "scroll-copy");
    ASSERT_NO_FATAL_FAILURE(startWatched(s, kPlanar));
    // Every line of the terminal holds text: blank lines alike would go as
    // sideways copies first.
    const std::string fill =
        "awk 'BEGIN { for (i = 1; i <= 30; i++) { s = \"\"; for (j = 1; length(s) < 78; j++) "
        "s = s sprintf(\"%d:%d \", i, (i * j * 7919) % 10007); printf \"%s%s\", substr(s, 1, "
        "78), i < 30 ? \"\\n\" : \"\" } }'; exec sleep 600";
    const Env server = {{"DISPLAY", s.serverDisplay()}};
    Process xterm;
    ASSERT_TRUE(xterm.start({"xterm", "-geometry", "80x30+40+40", "-e", "sh", "-c", fill}, server,
                            s.dir().file("xterm.log"), s.dir().file("xterm.log")));
    std::string id;
    ASSERT_TRUE(waitUntil(
        [&] {
            return xdotool(server, {"search", "--class", "xterm"}, &id) && !id.empty();
        },
        5000ms, 100ms));
    id = id.substr(0, id.find('\n'));
    ASSERT_TRUE(pictureMatches(s, kPlanar, 10000ms));
    int matchedSoon = 0;
    for (const auto& [x, y] : {std::pair{47, 45}, {48, 46}, {120, 130}, {80, 110}, {400, 240}}) {
        ASSERT_TRUE(xdotool(server, {"windowmove", id, std::to_string(x), std::to_string(y)}));
        matchedSoon += pictureMatches(s, kPlanar, 500ms) ? 1 : 0;
        ASSERT_TRUE(pictureMatches(s, kPlanar, 5000ms)) << x << "," << y;
    }
    EXPECT_GE(matchedSoon, 4);
    EXPECT_TRUE(s.serverSays("rows, diagonally)", 1000ms));
}

// The X server under a connected client crashes and its session starts a
// new one on the same display: the server neither ends nor hangs, and once
// the display is back the client sees it again and its input reaches it;
// SIGTERM then ends the server cleanly. (The colours of a desktop and their
// changes reaching a client are every case's.)
TEST(ServerLifetime, XServerRestartUnderAConnectedClient) {
    Session s(suites::screen, "800x600x24", "1024x768x24");
    ASSERT_TRUE(s.ok());
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#3366cc"));
    ASSERT_TRUE(startServer(s));
    ASSERT_TRUE(s.startClient({"/sec:tls", "/u:x", "/p:x", "/size:800x600"}));
    // Away from the middle, where the new X server puts its pointer.
    ASSERT_TRUE(s.clientShows(0x3366cc, 700, 500, 15000ms));
    // What the server said of the X server's permissions at start; the
    // library's warning about its own subsystems is not about ours.
    EXPECT_TRUE(s.serverSays("Screen Recording permission: granted", 0ms));
    EXPECT_TRUE(
        s.serverSays("Accessibility permission: granted (keyboard injection allowed)", 0ms));
    EXPECT_EQ(s.logCount("unmaintained"), 0);
    // The client's pointer moves reach the server's X server.
    int step = 0;
    std::string where;
    auto pointerArrives = [&] {
        return waitUntil(
            [&] {
                const std::string x = std::to_string(200 + (step++ % 20));
                xdotool({{"DISPLAY", s.clientDisplay()}}, {"mousemove", x, "150"});
                xdotool({{"DISPLAY", s.serverDisplay()}}, {"getmouselocation"}, &where);
                return where.rfind("x:" + x + " y:150 ", 0) == 0;
            },
            20000ms, 300ms);
    };
    ASSERT_TRUE(pointerArrives()) << where;
    const size_t descriptorsBefore = s.server().openDescriptors();

    s.serverX().kill();
    EXPECT_TRUE(s.serverSays("mac_capture: stream stopped", 10000ms));
    EXPECT_FALSE(s.server().waitExit(1500ms)) << "a lost display does not end the server";
    ASSERT_TRUE(s.serverX().restart());
    ASSERT_TRUE(setRootColour(s.serverDisplay(), "#cc3322"));
    EXPECT_TRUE(s.clientShows(0xcc3322, 700, 500, 20000ms));

    EXPECT_TRUE(pointerArrives()) << where;
    // The dead connections were closed, not only replaced.
    EXPECT_LE(s.server().openDescriptors(), descriptorsBefore);

    s.server().signal(SIGTERM);
    EXPECT_EQ(s.server().waitExit(10000ms), std::optional<int>(0));
}
