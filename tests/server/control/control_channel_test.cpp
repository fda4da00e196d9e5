// The control channel's listener: who may connect and slow readers. (A burst of
// bad input against the real server is in tests/e2e/abuse.)
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include <chrono>
#include <functional>
#include <thread>
#include "server/shadow/Mac/control/control_channel.h"
#include "server/shadow/Mac/control/control_protocol.h"

using mac_control::Channel;

namespace {

// Polls for a state another thread brings about, within a bound.
bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class ControlChannel : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/corvane-control-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(chmod(tmpl, 0711), 0); // another user's peer may pass through
        path_ = dir_ + "/run/control";
        ASSERT_TRUE(channel_.start(path_));
    }
    void TearDown() override {
        channel_.stop();
        std::string cmd = "rm -rf '" + dir_ + "'";
        (void)std::system(cmd.c_str());
    }
    int connectPeer() {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd);
            return -1;
        }
        timeval tv{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        return fd;
    }
    // Reads until `count` lines have come (or the peer closed); returns them.
    static std::vector<std::string> readLines(int fd, size_t count) {
        std::vector<std::string> lines;
        std::string buf;
        char chunk[4096];
        while (lines.size() < count) {
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            buf.append(chunk, static_cast<size_t>(n));
            for (size_t nl; (nl = buf.find('\n')) != std::string::npos; buf.erase(0, nl + 1))
                lines.push_back(buf.substr(0, nl));
        }
        return lines;
    }

    std::string dir_, path_;
    // No reply is read here: requests and their answers are the protocol's.
    Channel channel_{[](std::string_view) { return std::string(); },
                     [] { return std::vector<std::string>{"{\"hello\":1}\n"}; }};
};

} // namespace

TEST_F(ControlChannel, FolderAndSocketAreTheUsersAlone) {
    struct stat folder {}, sock {};
    ASSERT_EQ(stat((dir_ + "/run").c_str(), &folder), 0);
    ASSERT_EQ(stat(path_.c_str(), &sock), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_EQ(sock.st_mode & 0777, 0600u);
}

TEST_F(ControlChannel, APeerOfAnotherUserIsClosedWithoutAWord) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run a peer as another user";
    // Opened up on purpose: the peer check must hold even then.
    ASSERT_EQ(chmod((dir_ + "/run").c_str(), 0777), 0);
    ASSERT_EQ(chmod(path_.c_str(), 0777), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
            _exit(2);
        const int fd = connectPeer();
        if (fd < 0)
            _exit(3);
        const std::string line = "{\"v\":1,\"type\":\"disconnect\",\"id\":1}\n";
        (void)!send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        char c;
        const ssize_t n = read(fd, &c, 1); // closed (a reset: our line was unread)
        _exit(n == 0 || (n < 0 && errno == ECONNRESET) ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    const int own = connectPeer();
    ASSERT_GE(own, 0);
    EXPECT_EQ(readLines(own, 1), std::vector<std::string>{"{\"hello\":1}"});
    close(own);
}

TEST_F(ControlChannel, AReaderThatStopsReadingStaysWithinItsQueue) {
    const int stalled = connectPeer();
    ASSERT_GE(stalled, 0);
    ASSERT_TRUE(eventually([&] { return channel_.readers() == 1; }));
    const std::string stats = mac_control::statsEvent(1, {"h264", 1920, 1080, 30, 5000, 4, 0});
    for (int i = 0; i < 20000; ++i)
        channel_.publish(stats, true);
    EXPECT_LE(channel_.longestQueue(), Channel::kMaxQueued);
    EXPECT_EQ(channel_.readers(), 1u) << "dropping stats keeps the reader";

    // Events it can no longer be told about close it.
    for (size_t i = 0; i < 2 * Channel::kMaxQueued + 4096; ++i)
        channel_.publish(mac_control::leftEvent(1, "x"), false);
    EXPECT_TRUE(eventually([&] { return channel_.readers() == 0; }));
    close(stalled);
}
