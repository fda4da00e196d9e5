// The contract tests of extension hooks that no other suite proves (see
// server/shadow/ext/verified_versions.txt): each passes with its hook on and
// fails with the hook switched off (MAC_SHADOW_EXT_OFF), end to end with the
// real server and client. Where the server's FreeRDP was not verified for
// the hook, the test skips.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "e2e/sound/sound_session.h"
#include "e2e_session.h"

// After GoogleTest: Xlib's macros (None, Bool...) clash with its names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace e2e;

namespace {

// The kernel's view of the TCP connections on the port: `ss -tinH` lines of
// the client's end (remote port) or of the server's (local port).
std::string connections(int port, const char* end) {
    std::string out;
    run({"ss", "-tinH", "state", "established", end, "=", ":" + std::to_string(port)}, {}, 5000ms,
        &out);
    return out;
}

// The bytes the client's connections to the port have received so far, from
// the kernel's TCP counters.
std::optional<uint64_t> clientBytesReceived(int port) {
    const std::string out = connections(port, "dport");
    if (out.empty())
        return std::nullopt;
    uint64_t sum = 0;
    const std::string key = "bytes_received:";
    for (size_t at = out.find(key); at != std::string::npos; at = out.find(key, at + 1))
        sum += std::strtoull(out.c_str() + at + key.size(), nullptr, 10);
    return sum;
}

// The counter once it has stayed the same for `quiet`; nothing when it did
// not settle within the limit.
std::optional<uint64_t> settledBytes(int port, Duration quiet, Duration limit = 30000ms) {
    std::optional<uint64_t> last, settled;
    auto since = std::chrono::steady_clock::now();
    waitUntil(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            const auto bytes = clientBytesReceived(port);
            if (bytes != last)
                last = bytes, since = now;
            else if (bytes && now - since >= quiet)
                settled = bytes;
            return settled.has_value();
        },
        limit, 100ms);
    return settled;
}

// Draws pixels of a seeded random noise over a rectangle of the display's
// root window: no codec makes much of it smaller.
bool drawNoise(const std::string& display, int x, int y, int w, int h, unsigned seed) {
    Display* d = XOpenDisplay(display.c_str());
    if (!d)
        return false;
    std::mt19937 random(seed);
    std::vector<uint32_t> pixels(size_t(w) * 64);
    XImage* image = XCreateImage(d, DefaultVisual(d, DefaultScreen(d)), 24, ZPixmap, 0,
                                 reinterpret_cast<char*>(pixels.data()), w, 64, 32, 0);
    const GC gc = DefaultGC(d, DefaultScreen(d));
    for (int row = 0; image && row < h; row += 64) {
        for (uint32_t& p : pixels)
            p = random() & 0xFFFFFF;
        XPutImage(d, DefaultRootWindow(d), gc, image, 0, 0, x, y + row, w, std::min(64, h - row));
    }
    if (image) {
        image->data = nullptr; // the pixels are the vector's
        XDestroyImage(image);
    }
    XSync(d, False);
    XCloseDisplay(d);
    return image != nullptr;
}

// The client's picture of the rectangle equals the server's (planar is
// lossless; the client's window sits at the origin of its display) but for
// a thousandth of it, room for the pointer in the middle of the desktop.
bool clientMatches(Session& s, int x, int y, int w, int h) {
    const auto apart = pixelsApart(s.serverDisplay(), s.clientDisplay(), x, y, w, h, 0);
    return apart && *apart <= size_t(w) * h / 1000;
}

// The bytes the client received for a change of the rectangle: from the
// counter before it, once no bytes have come for a while, to the counter as
// soon as the client shows the change; nothing when the change did not
// arrive. The subsystem repaints the whole desktop a second after the
// desktop last changed: the count stops before that, and an attempt that
// took longer to show may have counted it.
std::optional<uint64_t> costOf(Session& s, const std::function<bool()>& change, int x, int y, int w,
                               int h) {
    const auto before = settledBytes(s.port(), 2500ms);
    if (!before || !change() ||
        !waitUntil([&] { return clientMatches(s, x, y, w, h); }, 20000ms, 10ms))
        return std::nullopt;
    const auto after = clientBytesReceived(s.port());
    return after ? std::optional<uint64_t>(*after - *before) : std::nullopt;
}

// The desktop both contract tests start from: noise all over, shared by a
// planar server.
constexpr int kWidth = 1024, kHeight = 768;
void startOnNoise(Session& s) {
    ASSERT_TRUE(s.ok());
    ASSERT_TRUE(drawNoise(s.serverDisplay(), 0, 0, kWidth, kHeight, 1));
    ASSERT_TRUE(s.startServer(planar({"-auth", "/sec:tls"})));
}

// The client shows the desktop, and the repaints that follow a connect are
// over (the next is 50 s away).
void connectSettled(Session& s) {
    ASSERT_TRUE(s.startClient({"/sec:tls", "/u:x", "/p:x", "/size:1024x768"}));
    ASSERT_TRUE(waitUntil([&] { return clientMatches(s, 0, 0, kWidth, kHeight); }, 30000ms, 200ms))
        << s.clientLog();
    ASSERT_TRUE(s.serverSays("scheduled repaint 3 after the client connected", 30000ms));
}

} // namespace

// changed-region: after a whole desktop of noise changed, a 16 x 16 change
// costs the client a small fraction of it (the library alone encodes the
// whole desktop for either).
TEST(HookContract, ASmallChangeTravelsInFewBytes) {
    Session s(suites::contracts, "1024x768x24", "1024x768x24");
    ASSERT_NO_FATAL_FAILURE(startOnNoise(s));
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "changed-region");
    ASSERT_NO_FATAL_FAILURE(connectSettled(s));

    const auto whole = costOf(
        s, [&] { return drawNoise(s.serverDisplay(), 0, 0, kWidth, kHeight, 2); }, 0, 0, kWidth,
        kHeight);
    ASSERT_TRUE(whole.has_value()) << "the whole-desktop change arrived";
    EXPECT_GT(*whole, uint64_t{kWidth} * kHeight) << "noise is dear to send";
    std::printf("figures: the whole desktop cost %llu bytes\n",
                static_cast<unsigned long long>(*whole));
    // A repaint may fall into an attempt on a loaded machine: up to three
    // attempts, at three places. Whole frames make every one of them dear.
    std::optional<uint64_t> small;
    for (int i = 0; i < 3 && !(small && *small * 10 < *whole); ++i) {
        const int x = 100 + 200 * i, y = 100 + 50 * i;
        const auto cost = costOf(
            s, [&] { return drawNoise(s.serverDisplay(), x, y, 16, 16, 3 + i); }, x, y, 16, 16);
        ASSERT_TRUE(cost.has_value()) << "the small change arrived";
        small = std::min(*cost, small.value_or(*cost));
        std::printf("figures: 16 x 16 pixels at (%d, %d) cost %llu bytes\n", x, y,
                    static_cast<unsigned long long>(*cost));
    }
    EXPECT_LT(*small * 10, *whole);
}

// frame-pacing: a client that stops reading (SIGSTOP) in the middle of a
// burst of small changes is sent the frame or two its loopback link carries
// in a round trip, not one frame per change; once it runs again, the changes
// it missed reach it together. The library alone sends it every change.
TEST(HookContract, ABehindClientGetsItsChangesInFewFrames) {
    constexpr int kChanges = 20;
    Session s(suites::contracts, "1024x768x24", "1024x768x24");
    ASSERT_NO_FATAL_FAILURE(startOnNoise(s));
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "frame-pacing");
    ASSERT_NO_FATAL_FAILURE(connectSettled(s));
    const auto one = costOf(
        s, [&] { return drawNoise(s.serverDisplay(), 40, 40, 32, 32, 2); }, 40, 40, 32, 32);
    ASSERT_TRUE(one.has_value()) << "a small change arrived";

    // Quiet for longer than the gaps between the full repaints the server
    // schedules after a connect (3 s) and than its repaint once frames settle
    // (1 s): a full repaint landing between this count and the stop would
    // be counted as the stopped client's.
    const auto before = settledBytes(s.port(), 3500ms);
    ASSERT_TRUE(before.has_value());
    s.client().signal(SIGSTOP);
    // Within the pacing's patience (2 s) for a client that stops acknowledging.
    for (int i = 0; i < kChanges; ++i) {
        ASSERT_TRUE(drawNoise(s.serverDisplay(), 100 + 40 * i, 100 + 20 * i, 32, 32, 10 + i));
        std::this_thread::sleep_for(50ms);
    }
    std::this_thread::sleep_for(200ms);
    const auto during = clientBytesReceived(s.port());
    s.client().signal(SIGCONT);
    ASSERT_TRUE(during.has_value());
    std::printf("figures: one change cost %llu bytes; %d changes to a stopped client %llu\n",
                static_cast<unsigned long long>(*one), kChanges,
                static_cast<unsigned long long>(*during - *before));
    EXPECT_LT(*during - *before, *one * 6) << "about two frames, not one per change";
    EXPECT_TRUE(waitUntil([&] { return clientMatches(s, 0, 0, kWidth, kHeight); }, 10000ms, 20ms))
        << "the changes it missed reach it";
}

namespace {

// A connection from a 127.x source address that asks for TLS (X.224) and
// then says nothing; open until it ends.
class SilentConnection {
  public:
    SilentConnection(const std::string& source, int port) : fd_(connectFrom(source, port)) {
        if (fd_ >= 0 && !sendAll(fd_, kX224Tls))
            close();
    }
    ~SilentConnection() { close(); }
    SilentConnection(const SilentConnection&) = delete;
    SilentConnection& operator=(const SilentConnection&) = delete;

    // The server answered the request (an X.224 confirm in a TPKT): it now
    // waits for the TLS handshake that never comes.
    bool answered(Duration limit) {
        timeval tv{static_cast<time_t>(limit.count() / 1000),
                   static_cast<suseconds_t>(limit.count() % 1000 * 1000)};
        uint8_t reply[19] = {};
        return fd_ >= 0 && setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
               recv(fd_, reply, sizeof reply, MSG_WAITALL) == sizeof reply && reply[0] == 0x03 &&
               reply[5] == 0xd0;
    }
    // Neither closed by the server nor answered further.
    bool stillOpen() {
        uint8_t byte = 0;
        return fd_ >= 0 && recv(fd_, &byte, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN;
    }

  private:
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
};

} // namespace

// login-handshake: connections that never log in are not subscribed to the
// frames, so a logged-in client keeps seeing each change promptly while they
// are open (the library alone would wait for them before every frame).
TEST(HookContract, ASilentConnectionHoldsNoFrames) {
    Session s(suites::contracts, "800x600x24", "800x600x24");
    ASSERT_TRUE(s.ok() && setRootColour(s.serverDisplay(), "#204060"));
    ASSERT_TRUE(s.startServer(planar({"-auth", "/sec:tls"})));
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "login-handshake");
    ASSERT_TRUE(s.startClient({"/sec:tls", "/u:x", "/p:x", "/size:800x600"}));
    ASSERT_TRUE(s.clientShows(0x204060, 100, 500, 30000ms)) << s.clientLog();

    std::vector<std::unique_ptr<SilentConnection>> silent;
    for (int i = 1; i <= 3; ++i) {
        auto& c = silent.emplace_back(
            std::make_unique<SilentConnection>("127.0.5." + std::to_string(i), s.port()));
        ASSERT_TRUE(c->answered(10000ms)) << "silent connection " << i;
    }
    // Each change arrives long before a login's grace time would end the
    // silent connections; the first one held stops the test.
    const uint32_t colours[] = {0xc03020, 0x30a050, 0x2040d0, 0xe0c020, 0x808080};
    for (const uint32_t colour : colours) {
        char name[8];
        std::snprintf(name, sizeof name, "#%06x", colour);
        ASSERT_TRUE(setRootColour(s.serverDisplay(), name));
        ASSERT_TRUE(s.clientShows(colour, 100, 500, 5000ms))
            << "the client did not see " << name << " within 5 s";
    }
    for (auto& c : silent)
        EXPECT_TRUE(c->stillOpen()) << "the changes arrived while the connections were open";
}

// sound-formats: two clients with sound; the first leaves, and the server
// goes on sending the second one sound, and outlives it too (the library
// alone frees the one list of sound formats all clients share when the first
// one leaves).
TEST(HookContract, SoundGoesOnAfterAnotherClientLeaves) {
    SoundSession s(suites::contracts, "800x600");
    ASSERT_TRUE(s.ready());
    ASSERT_TRUE(s.startServer());
    E2E_SKIP_IF_HOOK_UNVERIFIED(s, "sound-formats");
    Process first, second;
    ASSERT_TRUE(s.startListener(first, "first"));
    ASSERT_TRUE(s.startListener(second, "second"));
    ASSERT_TRUE(waitUntil([&] { return s.logCount("sound: client plays") >= 2; }, 30000ms, 100ms))
        << "both clients listen";

    // The server closes a connection's socket after its channels are gone.
    const auto leaves = [&](Process& client, int staying) {
        client.stop();
        return waitUntil(
            [&] {
                // One line per connection, and one indented line of its figures.
                const std::string open = connections(s.port(), "sport");
                return !s.server().running() ||
                       std::count(open.begin(), open.end(), '\t') == staying;
            },
            10000ms, 100ms);
    };
    ASSERT_TRUE(leaves(first, 1));
    ASSERT_TRUE(s.server().running()) << "the server outlives the first client's sound channel";
    // Half a second of the two-second tone is plenty, and no sound is none.
    const auto heard = s.recordTone();
    EXPECT_GT(
        std::count_if(heard.begin(), heard.end(), [](int16_t v) { return std::abs(v) > 2000; }),
        44100 / 2)
        << "the second client hears the tone";
    ASSERT_TRUE(second.running());
    // The second client's own list goes with it, and nothing is freed twice.
    ASSERT_TRUE(leaves(second, 0));
    EXPECT_TRUE(s.server().running()) << "the server outlives the second client's sound channel";
}
