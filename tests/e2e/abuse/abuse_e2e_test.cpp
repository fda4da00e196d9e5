// The server under attack, end to end: a logged-in FreeRDP client watches a
// desktop whose colour changes 20 times a second while connections that never
// log in, a password brute force, garbage, a flood and clients killed halfway
// come and go. After each attack the client still works, the server's open
// descriptors and memory are back near where they started, and SIGTERM still
// ends it with status 0. 127.0.0.x only (other 127.x source addresses stand
// in for other hosts).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "e2e_session.h"

// After GoogleTest: Xlib's macros (None, Bool...) clash with its names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

using namespace e2e;

namespace {

const std::string kBench = CORVANE_BENCH_BIN_DIR;
const std::string kUser = "corvabuse";
const std::string kPassword = "Abuse-Secret-1";
const std::string kPalette = "ff0000,00ff00,0000ff,ffff00,00ffff,ff00ff,ffffff,808080";
// An X.224 connection request asking for TLS.
const std::vector<uint8_t> kX224Tls = {0x03, 0x00, 0x00, 0x13, 0x0e, 0xe0, 0x00, 0x00, 0x00, 0x00,
                                       0x00, 0x01, 0x00, 0x08, 0x00, 0x03, 0x00, 0x00, 0x00};

// A TCP connection to the port from a 127.x source address; -1 on failure.
int connectFrom(const std::string& source, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// True when the server closed the connection within the limit.
bool closedByServer(int fd, Duration limit) {
    timeval tv{static_cast<time_t>(limit.count() / 1000),
               static_cast<suseconds_t>(limit.count() % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n == 0)
            return true;
        if (n < 0)
            return false;
    }
}

long rssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// "key=value" out of a bench tool's output line.
double figure(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size() + 1);
}

class Abuse : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(s_.ok());
        std::string hash;
        ASSERT_EQ(run({"winpr-hash3", "-u", kUser, "-p", kPassword}, {}, 10000ms, &hash),
                  std::optional<int>(0));
        hash.erase(hash.find_last_not_of(" \n") + 1);
        ASSERT_TRUE(setColour("336699"));
        std::vector<std::string> args = {"+auth", "+sec-nla"};
        args.insert(args.end(), kPlanarOnly.begin(), kPlanarOnly.end());
        ASSERT_TRUE(s_.startServer(args, {{"MAC_SHADOW_NLA", kUser + ":" + hash}}));
        ASSERT_TRUE(s_.startClient({"/sec:nla", "/u:" + kUser, "/p:" + kPassword,
                                    "/auth-pkg-list:ntlm,!kerberos", "/size:1280x800"}));
        ASSERT_TRUE(clientShows("336699", 30));
        // The steady state the attacks must come back to.
        waitUntil([] { return false; }, 1500ms);
        fds_ = s_.server().openDescriptors();
        rss_ = rssKb(s_.server().pid());
    }
    // The longest publication of the capture's statistics lines in `text`
    // (ms); -1 when there is none.
    static double longestPublishMs(const std::string& text) {
        const std::string key = "publish (waiting for clients) avg ";
        double longest = -1;
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
            const size_t max = text.find(" max ", at);
            if (max != std::string::npos)
                longest = std::max(longest, std::atof(text.c_str() + max + 5));
        }
        return longest;
    }
    bool setColour(const std::string& rgb) {
        return run({kBench + "/bench_workload_colour", "--once", rgb},
                   {{"DISPLAY", s_.serverDisplay()}}, 5000ms) == std::optional<int>(0);
    }
    bool clientShows(const std::string& rgb, int seconds) {
        return run({kBench + "/bench_pixel_watch", "--mode", "wait", "--x", "100", "--y", "700",
                    "--palette", rgb, "--tol", "24", "--seconds", std::to_string(seconds)},
                   {{"DISPLAY", s_.clientDisplay()}},
                   Duration(seconds * 1000 + 10000)) == std::optional<int>(0);
    }

    // After an attack: the client still follows the desktop, and the
    // server's descriptors and memory are back within a small margin.
    void expectRecovered(const std::string& after, const std::string& colour) {
        ASSERT_TRUE(s_.server().running()) << after;
        EXPECT_TRUE(setColour(colour) && clientShows(colour, 10)) << after;
        EXPECT_TRUE(
            waitUntil([&] { return s_.server().openDescriptors() <= fds_ + 3; }, 15000ms, 200ms))
            << after << ": " << s_.server().openDescriptors() << " descriptors, " << fds_
            << " before";
        // Freed memory goes back to the system a turn of the server's
        // watchdog after the connections ended; leaked memory never does.
        EXPECT_TRUE(
            waitUntil([&] { return rssKb(s_.server().pid()) <= rss_ + 24 * 1024; }, 5000ms, 200ms))
            << after << ": RSS " << rssKb(s_.server().pid()) << " kB, " << rss_ << " kB before";
    }

    // Where the server's pointer is.
    static std::pair<int, int> serverPointer(Display* server) {
        Window root, child;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        XQueryPointer(server, DefaultRootWindow(server), &root, &child, &rx, &ry, &wx, &wy, &mask);
        return {rx, ry};
    }

    // Learns where the client's window lies on its display: the server's
    // pointer lands at the client's position minus that offset.
    bool calibrate(Display* client, Display* server) {
        const auto before = serverPointer(server);
        XTestFakeMotionEvent(client, 0, 333, 333, CurrentTime);
        XFlush(client);
        if (!waitUntil([&] { return serverPointer(server) != before; }, 5000ms, 10ms))
            return false;
        const auto at = serverPointer(server);
        offsetX_ = 333 - at.first;
        offsetY_ = 333 - at.second;
        return true;
    }

    // Moves the pointer on the client's display and returns how long the
    // server's desktop took to follow (ms); -1 when it did not within 2 s.
    long pointerFollowMs(Display* client, Display* server, int x, int y) {
        x += offsetX_;
        y += offsetY_;
        const auto start = std::chrono::steady_clock::now();
        XTestFakeMotionEvent(client, 0, x, y, CurrentTime);
        XFlush(client);
        while (std::chrono::steady_clock::now() - start < 2s) {
            const auto [rx, ry] = serverPointer(server);
            if (std::abs(rx + offsetX_ - x) <= 2 && std::abs(ry + offsetY_ - y) <= 2)
                return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now() - start)
                                             .count());
            std::this_thread::sleep_for(5ms);
        }
        return -1;
    }

    Session s_{suites::abuse, "1280x800x24", "1400x900x24"};
    size_t fds_ = 0;
    long rss_ = 0;
    int offsetX_ = 0, offsetY_ = 0;
};

} // namespace

TEST_F(Abuse, NoConnectionHoldsTheLoggedInClient) {
    // 1. Clients killed in the middle of the handshake and of the session.
    //    First: every login of the test comes from 127.0.0.1, which the
    //    brute force of step 2 locks out.
    {
        const auto start = [&](Process& p) {
            return p.start(s_.clientCommand({"/sec:nla", "/u:" + kUser, "/p:" + kPassword,
                                             "/auth-pkg-list:ntlm,!kerberos", "/size:800x600"}),
                           s_.clientEnv(), s_.dir().file("killed.log"),
                           s_.dir().file("killed.log"));
        };
        // Killed once the server has reached the stage named by its line.
        for (const char* stage :
             {"Accepting client from localhost", "nla login attempt from 127.0.0.1",
              "client ready, sending full frames"}) {
            const int before = s_.logCount(stage);
            Process client;
            ASSERT_TRUE(start(client));
            ASSERT_TRUE(waitUntil([&] { return s_.logCount(stage) > before; }, 20000ms, 5ms))
                << stage;
            client.signal(SIGKILL);
            client.waitExit(5000ms);
        }
        expectRecovered("clients killed", "daa520");
    }

    // 2. A silent connection held open and a wrong password tried every 3 s
    //    (the account check's delay, then the lockout's waits), while the
    //    desktop changes 20 times a second.
    {
        const int silentFd = connectFrom("127.0.0.2", s_.port());
        ASSERT_GE(silentFd, 0);
        ASSERT_TRUE(sendAll(silentFd, kX224Tls));
        const size_t statsBefore = s_.serverLog().size();
        std::atomic<bool> stop{false};
        int tries = 0;
        std::thread bruteForce([&] {
            while (!stop.load()) {
                run(s_.clientCommand({"/sec:tls", "/u:" + kUser,
                                      "/p:wrong-" + std::to_string(tries), "+auth-only"}),
                    {{"DISPLAY", ""}, {"HOME", s_.dir().path()}}, 20000ms);
                tries++;
                for (int i = 0; i < 30 && !stop.load(); i++)
                    std::this_thread::sleep_for(100ms);
            }
        });
        Process workload, watch;
        ASSERT_TRUE(workload.start({kBench + "/bench_workload_colour", "--hz", "20", "--palette",
                                    kPalette, "--seconds", "14"},
                                   {{"DISPLAY", s_.serverDisplay()}}, s_.dir().file("workload.log"),
                                   s_.dir().file("workload.log")));
        ASSERT_TRUE(watch.start({kBench + "/bench_pixel_watch", "--mode", "colour", "--x", "100",
                                 "--y", "700", "--palette", kPalette, "--seconds", "12"},
                                {{"DISPLAY", s_.clientDisplay()}}, s_.dir().file("watch.log"),
                                s_.dir().file("watch.log")));
        // Input during the attack: the pointer on the server's desktop
        // follows the client's.
        Display* clientDisplay = XOpenDisplay(s_.clientDisplay().c_str());
        Display* serverDisplay = XOpenDisplay(s_.serverDisplay().c_str());
        ASSERT_TRUE(clientDisplay && serverDisplay);
        ASSERT_TRUE(calibrate(clientDisplay, serverDisplay));
        std::vector<long> delays;
        for (int i = 0; i < 10; i++) {
            std::this_thread::sleep_for(900ms);
            delays.push_back(
                pointerFollowMs(clientDisplay, serverDisplay, 200 + 60 * (i % 2), 300 + 40 * i));
        }
        XCloseDisplay(clientDisplay);
        XCloseDisplay(serverDisplay);
        ASSERT_TRUE(watch.waitExit(20000ms).has_value());
        workload.stop();
        stop.store(true);
        bruteForce.join();
        // The attack's connections were held long enough to have frozen every
        // session before (publication waited for them).
        EXPECT_FALSE(closedByServer(silentFd, 10ms)) << "still inside its 30 s grace time";
        close(silentFd);

        std::string watched = readFile(s_.dir().file("watch.log"));
        watched.erase(watched.find_last_not_of('\n') + 1);
        const double seen = figure(watched, "changes");
        const double rate = figure(readFile(s_.dir().file("workload.log")), "rate");
        std::sort(delays.begin(), delays.end());
        const double longestPublish = longestPublishMs(s_.serverLog().substr(statsBefore));
        std::printf("figures: %s against %.1f changes/s; pointer delays %ld..%ld ms (median "
                    "%ld); longest publication %.0f ms; %d wrong passwords\n",
                    watched.c_str(), rate, delays.front(), delays.back(), delays[delays.size() / 2],
                    longestPublish, tries);
        // Publication held by the attack froze the picture and the pointer for
        // as long as the silent connection stayed (nothing seen, no move
        // arrived) and for each password check. How much of the desktop the
        // client keeps up with depends on the machine's load, so the share
        // (at least 95 %) and the pointer's 200 ms are measured on a quiet
        // machine by bench/abuse_bench.py; here the picture must keep moving.
        EXPECT_GE(longestPublish, 0) << "the capture's statistics line";
        EXPECT_LT(longestPublish, 1500) << "no publication waited for the attack";
        EXPECT_GE(seen, 2 * 12) << watched << " against " << rate << "/s";
        EXPECT_GE(delays.front(), 0) << "every pointer move arrived";
        EXPECT_LE(delays[delays.size() / 2], 500) << "median pointer delay in ms";
        EXPECT_LE(delays.back(), 1000) << "slowest pointer move in ms";
        EXPECT_GE(tries, 3);
        expectRecovered("silent connection and brute force", "2e8b57");
    }

    // 3. Random bytes and truncated handshakes from other addresses.
    {
        std::mt19937 random(12);
        std::vector<int> fds;
        for (int i = 0; i < 20; i++) {
            const int fd = connectFrom("127.0.1." + std::to_string(i + 1), s_.port());
            ASSERT_GE(fd, 0);
            std::vector<uint8_t> bytes(i < 10 ? 64 + i * 37 : 0);
            for (uint8_t& b : bytes)
                b = static_cast<uint8_t>(random());
            if (!bytes.empty()) {
                // Garbage complete by its own framing (a fast-path header
                // announcing fewer bytes than sent): garbage announcing more
                // waits for them like a slow login, until the grace time.
                bytes[0] = bytes[0] == 0x03 ? 0x04 : bytes[0];
                bytes[1] &= 0x3f;
            }
            if (i >= 10) { // the X.224 request cut short, or a TLS hello cut short
                bytes.assign(kX224Tls.begin(), kX224Tls.begin() + (i % 2 ? 7 : 19));
                if (i % 2 == 0)
                    bytes.insert(bytes.end(), {0x16, 0x03, 0x01, 0x02, 0x00, 0x01});
            }
            sendAll(fd, bytes);
            fds.push_back(fd);
        }
        int closedByServerCount = 0;
        for (int i = 0; i < 10; i++)
            closedByServerCount += closedByServer(fds[i], 3000ms) ? 1 : 0;
        EXPECT_EQ(closedByServerCount, 10) << "garbage is answered by closing";
        for (int fd : fds)
            close(fd);
        expectRecovered("random bytes and truncated handshakes", "8b2252");
    }

    // 4. Two hundred connections at once, from two hundred addresses.
    {
        std::vector<int> fds;
        for (int i = 0; i < 200; i++) {
            const int fd = connectFrom("127.0.2." + std::to_string(i + 1), s_.port());
            if (fd >= 0 && sendAll(fd, kX224Tls))
                fds.push_back(fd);
        }
        EXPECT_GE(fds.size(), 150u);
        EXPECT_TRUE(waitUntil(
            [&] {
                return s_.serverLog().find("connections are logging in, ") != std::string::npos;
            },
            5000ms))
            << "beyond the cap, connections are refused";
        EXPECT_TRUE(setColour("cd5c5c") && clientShows("cd5c5c", 10)) << "during the flood";
        for (int fd : fds)
            close(fd);
        expectRecovered("200 connections at once", "4682b4");
    }

    // SIGTERM still ends the server, with status 0.
    s_.client().stop();
    s_.server().signal(SIGTERM);
    EXPECT_EQ(s_.server().waitExit(10000ms), std::optional<int>(0));
}
