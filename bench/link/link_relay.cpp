// A shaped link on loopback for the benchmark: accepts clients on one port
// and relays each to the server's port, every direction through its own
// LinkModel (bandwidth, then delay). While a direction holds more than its
// buffer it stops reading, so the sender's TCP sees a full bottleneck as it
// would on a real link, rather than the relay growing without bound.
//
//   bench_link_relay LISTEN_PORT SERVER_PORT RATE DELAY [BUFFER_BYTES]
//   bench_link_relay 24890 24801 20mbit 20ms
//
// Only 127.0.0.1 is used. It runs until killed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <tuple>
#include <vector>

#include "link_model.h"

namespace {

// Pieces the size of a TCP segment, so that the link sends them one after
// another as a network would rather than a whole read at once.
constexpr size_t kSegment = 1448;

uint64_t nowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Piece {
    uint64_t dueUs;
    std::vector<unsigned char> bytes;
    size_t written = 0;
};

// One direction: what `from` sent, on its way to `to`.
struct Direction {
    int from = -1, to = -1;
    LinkModel link;
    std::deque<Piece> pieces;
    size_t held = 0;
    bool ended = false; // `from` closed its side; `to` gets it after the rest
    bool shut = false;
    bool blocked = false; // `to` took no more: wait until it is writable

    bool wantsRead(size_t buffer) const { return !ended && held < buffer; }
    bool due(uint64_t now) const { return !pieces.empty() && pieces.front().dueUs <= now; }

    void read(uint64_t now) {
        unsigned char data[64 * 1024];
        const ssize_t n = ::recv(from, data, sizeof data, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            ended = true;
            return;
        }
        for (ssize_t at = 0; at < n; at += kSegment) {
            const size_t size = std::min<size_t>(kSegment, static_cast<size_t>(n - at));
            pieces.push_back({link.arrival(now, size), {data + at, data + at + size}});
            held += size;
        }
    }

    // False when the receiver is gone.
    bool write(uint64_t now) {
        while (due(now)) {
            Piece& p = pieces.front();
            const ssize_t n = ::send(to, p.bytes.data() + p.written, p.bytes.size() - p.written,
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0) {
                blocked = errno == EAGAIN;
                return blocked || errno == EINTR;
            }
            blocked = false;
            p.written += static_cast<size_t>(n);
            if (p.written < p.bytes.size())
                return true;
            held -= p.bytes.size();
            pieces.pop_front();
        }
        if (ended && pieces.empty() && !shut) {
            ::shutdown(to, SHUT_WR);
            shut = true;
        }
        return true;
    }
};

struct Relay {
    Direction up, down; // client to server, server to client
    bool broken = false;
    bool done() const { return broken || (up.shut && down.shut); }
    ~Relay() {
        ::close(up.from);
        ::close(up.to);
    }
};

int listenOn(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        std::perror("bench_link_relay: listen");
        std::exit(1);
    }
    return fd;
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void noDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

struct Options {
    int listenPort = 0, serverPort = 0;
    LinkModel link;
    size_t buffer = 256 * 1024;
};

bool parse(int argc, char** argv, Options* o) {
    if (argc < 5 || argc > 6)
        return false;
    o->listenPort = std::atoi(argv[1]);
    o->serverPort = std::atoi(argv[2]);
    o->link.bitsPerSecond = parseRate(argv[3]);
    if (argc == 6)
        o->buffer = static_cast<size_t>(std::atoll(argv[5]));
    return o->listenPort > 0 && o->serverPort > 0 && o->link.bitsPerSecond > 0 &&
           parseDuration(argv[4], &o->link.delayUs) && o->buffer > 0;
}

void accept(int listener, const Options& o, std::vector<std::unique_ptr<Relay>>* relays) {
    const int client = ::accept(listener, nullptr, nullptr);
    if (client < 0)
        return;
    const int server = connectTo(o.serverPort);
    if (server < 0) {
        ::close(client);
        return;
    }
    noDelay(client);
    noDelay(server);
    auto r = std::make_unique<Relay>();
    for (auto [d, from, to] : {std::tuple{&r->up, client, server}, {&r->down, server, client}}) {
        d->from = from;
        d->to = to;
        d->link = o.link;
    }
    relays->push_back(std::move(r));
}

// How long poll may sleep: until the next piece is due, at most 100 ms.
int pollTimeoutMs(const std::vector<std::unique_ptr<Relay>>& relays, uint64_t now) {
    uint64_t next = now + 100'000;
    for (const auto& r : relays)
        for (const Direction* d : {&r->up, &r->down})
            if (!d->pieces.empty() && !d->blocked)
                next = std::min(next, d->pieces.front().dueUs);
    return next <= now ? 0 : static_cast<int>((next - now + 999) / 1000);
}

void turn(int listener, const Options& o, std::vector<std::unique_ptr<Relay>>* relays) {
    // Two entries per direction: its sender (readable) and its receiver
    // (writable, while a write waits for room).
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    for (const auto& r : *relays)
        for (const Direction* d : {&r->up, &r->down}) {
            fds.push_back({d->from, static_cast<short>(d->wantsRead(o.buffer) ? POLLIN : 0), 0});
            fds.push_back({d->to, static_cast<short>(d->blocked ? POLLOUT : 0), 0});
        }
    ::poll(fds.data(), fds.size(), pollTimeoutMs(*relays, nowUs()));
    const uint64_t now = nowUs();
    size_t i = 1;
    for (const auto& r : *relays)
        for (Direction* d : {&r->up, &r->down}) {
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                d->read(now);
            i += 2;
            if (!d->write(now))
                r->broken = true;
        }
    if (fds[0].revents & POLLIN)
        accept(listener, o, relays);
    std::erase_if(*relays, [](const auto& r) { return r->done(); });
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stderr, "usage: %s LISTEN_PORT SERVER_PORT RATE DELAY [BUFFER_BYTES]\n"
                             "  RATE as 20mbit, 512kbit; DELAY as 20ms (each way)\n",
                     argv[0]);
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    const int listener = listenOn(o.listenPort);
    std::printf("bench_link_relay: listening on %d\n", o.listenPort);
    std::fflush(stdout);
    std::vector<std::unique_ptr<Relay>> relays;
    for (;;)
        turn(listener, o, &relays);
}
