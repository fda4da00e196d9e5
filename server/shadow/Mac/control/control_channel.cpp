#include "control_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "base/clock.h"
#include "base/log.h"
#include "control_protocol.h"
#include "platform/local_peer.h"
#include "server/shadow/ext/peer_admission.h"

namespace mac_control {

namespace {

struct Queued {
    std::string line;
    bool stats;
};

struct Reader {
    int fd = -1;
    std::deque<Queued> out;
    size_t sentOfFront = 0;
    std::string in;
    bool discarding = false; // inside an oversized line, until its newline
    bool closing = false;
};

// The folder holds only our socket: made 0700, and refused when someone else
// owns it or others may enter it.
bool prepareFolder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return true;
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        MAC_ERROR("control channel: cannot make %s: %s", folder.c_str(), std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 0077) != 0) {
        MAC_ERROR("control channel: %s must be a folder of this user that only it may enter",
                  folder.c_str());
        return false;
    }
    return true;
}

// A socket left by a server that ended is removed; one that answers belongs
// to a server still running.
bool clearStale(const std::string& path, const sockaddr_un& addr) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return true;
    if (!S_ISSOCK(st.st_mode)) {
        MAC_ERROR("control channel: %s exists and is not a socket", path.c_str());
        return false;
    }
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live =
        probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    if (probe >= 0)
        close(probe);
    if (live) {
        MAC_ERROR("control channel: another server listens on %s", path.c_str());
        return false;
    }
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

} // namespace

std::string channelPath(const char* controlValue, const char* runtimeDir) {
    if (controlValue && controlValue[0])
        return controlValue;
    if (runtimeDir && runtimeDir[0] == '/')
        return std::string(runtimeDir) + "/corvane/control";
    return {};
}

struct Channel::State {
    Handler handler;
    Greeting greeting;
    std::string path;
    int listenFd = -1;
    int wake[2] = {-1, -1};
    std::thread thread;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex; // readers' queues and the reader list
    std::vector<std::unique_ptr<Reader>> readers;
    shadow_ext::LinePerAddress refusals;

    void queue(Reader& r, Queued q) {
        if (r.out.size() >= kMaxQueued) {
            // The front may be half written: it stays.
            auto it = r.out.begin() + (r.sentOfFront > 0 ? 1 : 0);
            for (; it != r.out.end() && !it->stats; ++it) {
            }
            if (it != r.out.end()) {
                r.out.erase(it);
            } else if (q.stats) {
                return;
            } else {
                r.closing = true; // too far behind to be told what happened
                return;
            }
        }
        r.out.push_back(std::move(q));
    }

    void poke() {
        const char b = 1;
        (void)!write(wake[1], &b, 1);
    }

    void accept() {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const auto uid = corvane::platform::localPeerUid(fd);
        if (!uid || *uid != geteuid()) {
            uint64_t heldBack = 0;
            const std::string who = uid ? "uid " + std::to_string(*uid) : "an unknown user";
            if (refusals.due(who, mac_now_ms(), &heldBack))
                MAC_WARN("control channel: refused a peer running as %s (%llu more refused "
                         "since the last line)",
                         who.c_str(), static_cast<unsigned long long>(heldBack));
            close(fd);
            return;
        }
        std::vector<std::string> hello = greeting ? greeting() : std::vector<std::string>{};
        std::lock_guard lock(mutex);
        if (readers.size() >= kMaxReaders) {
            MAC_WARN("control channel: %zu readers already, refused another", readers.size());
            close(fd);
            return;
        }
        auto r = std::make_unique<Reader>();
        r->fd = fd;
        for (auto& l : hello)
            queue(*r, Queued{std::move(l), false});
        readers.push_back(std::move(r));
    }

    // Runs the handler without the lock; the reply joins the reader's queue.
    void answer(Reader& r, std::string_view line) {
        std::string reply = handler ? handler(line) : errorReply("", "no handler");
        std::lock_guard lock(mutex);
        queue(r, Queued{std::move(reply), false});
    }

    // Room for a reply: a reader whose replies back up is not read further,
    // so that a fast writer cannot overrun its own queue.
    bool room(const Reader& r) {
        std::lock_guard lock(mutex);
        return r.out.size() + 1 < kMaxQueued && !r.closing;
    }

    // Answers the complete lines read so far, while replies have room.
    void processLines(Reader& r) {
        while (room(r)) {
            const size_t nl = r.in.find('\n');
            if (nl == std::string::npos) {
                if (r.discarding) {
                    r.in.clear();
                } else if (r.in.size() > kMaxLine) {
                    r.in.clear();
                    r.discarding = true;
                    std::lock_guard lock(mutex);
                    queue(r, Queued{errorReply("", "line longer than 64 KiB"), false});
                }
                return;
            }
            if (r.discarding)
                r.discarding = false;
            else
                answer(r, std::string_view(r.in).substr(0, nl));
            r.in.erase(0, nl + 1);
        }
    }

    void readFrom(Reader& r) {
        if (r.in.find('\n') != std::string::npos || !room(r))
            return; // what was read is not answered yet
        char buf[16384];
        const ssize_t n = read(r.fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            r.closing = true;
            return;
        }
        if (n > 0)
            r.in.append(buf, static_cast<size_t>(n));
    }

    void writeTo(Reader& r) {
        std::lock_guard lock(mutex);
        while (!r.out.empty()) {
            const std::string& l = r.out.front().line;
            const ssize_t n = send(r.fd, l.data() + r.sentOfFront, l.size() - r.sentOfFront,
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno != EAGAIN && errno != EINTR)
                    r.closing = true;
                return;
            }
            r.sentOfFront += static_cast<size_t>(n);
            if (r.sentOfFront < l.size())
                return;
            r.out.pop_front();
            r.sentOfFront = 0;
        }
    }

    void run() {
        while (!stopping.load()) {
            std::vector<pollfd> fds{{wake[0], POLLIN, 0}, {listenFd, POLLIN, 0}};
            std::vector<Reader*> order;
            {
                std::lock_guard lock(mutex);
                for (auto& r : readers) {
                    const bool readable =
                        r->in.find('\n') == std::string::npos && r->out.size() + 1 < kMaxQueued;
                    const short events = static_cast<short>((readable ? POLLIN : 0) |
                                                            (r->out.empty() ? 0 : POLLOUT));
                    fds.push_back({r->fd, events, 0});
                    order.push_back(r.get());
                }
            }
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
                break;
            if (fds[0].revents & POLLIN) {
                char drain[64];
                while (read(wake[0], drain, sizeof drain) > 0) {
                }
            }
            if (fds[1].revents & POLLIN)
                accept();
            for (size_t i = 0; i < order.size(); ++i) {
                const short ev = fds[i + 2].revents;
                if (ev & (POLLIN | POLLHUP | POLLERR))
                    readFrom(*order[i]);
                processLines(*order[i]);
                writeTo(*order[i]);
                processLines(*order[i]);
            }
            std::lock_guard lock(mutex);
            std::erase_if(readers, [](const std::unique_ptr<Reader>& r) {
                if (!r->closing)
                    return false;
                close(r->fd);
                return true;
            });
        }
    }
};

Channel::Channel(Handler handler, Greeting greeting) : state_(std::make_unique<State>()) {
    state_->handler = std::move(handler);
    state_->greeting = std::move(greeting);
}

Channel::~Channel() {
    stop();
}

bool Channel::start(const std::string& path) {
    State& s = *state_;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        MAC_ERROR("control channel: no usable socket path ('%s')", path.c_str());
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (!prepareFolder(path) || !clearStale(path, addr))
        return false;
    s.listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // The folder keeps everyone else out until the socket's own mode is set.
    if (s.listenFd < 0 || bind(s.listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        chmod(path.c_str(), 0600) != 0 || listen(s.listenFd, 8) != 0 ||
        pipe2(s.wake, O_NONBLOCK | O_CLOEXEC) != 0) {
        MAC_ERROR("control channel: cannot listen on %s: %s", path.c_str(), std::strerror(errno));
        stop();
        return false;
    }
    s.path = path;
    s.thread = std::thread([&s] { s.run(); });
    MAC_INFO("control channel: listening on %s", path.c_str());
    return true;
}

void Channel::stop() {
    State& s = *state_;
    s.stopping.store(true);
    if (s.thread.joinable()) {
        s.poke();
        s.thread.join();
    }
    for (auto& r : s.readers)
        close(r->fd);
    s.readers.clear();
    for (int* fd : {&s.listenFd, &s.wake[0], &s.wake[1]})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    if (!s.path.empty()) {
        (void)unlink(s.path.c_str());
        s.path.clear();
    }
}

void Channel::publish(const std::string& line, bool stats) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->readers.empty())
            return;
        for (auto& r : state_->readers)
            state_->queue(*r, Queued{line, stats});
    }
    state_->poke();
}

size_t Channel::readers() const {
    std::lock_guard lock(state_->mutex);
    return state_->readers.size();
}

size_t Channel::longestQueue() const {
    std::lock_guard lock(state_->mutex);
    size_t longest = 0;
    for (auto& r : state_->readers)
        longest = std::max(longest, r->out.size());
    return longest;
}

} // namespace mac_control
