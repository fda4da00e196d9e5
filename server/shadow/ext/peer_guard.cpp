// The connection guard: verdicts, the watchdog, the write watch, the
// publication bracket and the open-files limit.
#include "peer_guard.h"
#include "peer_admission.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <freerdp/freerdp.h>
#include <freerdp/transport_io.h>
#include <winpr/sysinfo.h>
#include <winpr/wlog.h>

#include "peer_state.h"

namespace shadow_ext {

namespace {

std::atomic<uint64_t (*)(void)> gClock{nullptr};
std::atomic<uint64_t> gPublications{0};
std::atomic<uint64_t> gPublishingSince{0};
std::atomic<bool> gStopping{false};
std::atomic<pTransportRWFkt> gLibraryWrite{nullptr};
std::atomic<psPeerGetEventHandles> gLibraryEventHandles{nullptr};
std::atomic<psPeerCheckFileDescriptor> gLibraryCheck{nullptr};

std::mutex gWakeMutex;
std::condition_variable gWake;

uint64_t stamp() {
    const uint64_t now = shadow_ext_now_ms();
    return now ? now : 1; // 0 means "not set"
}

// Every PDU the library sends to the client passes here: a write that does
// not come back means the client is not taking data.
int watchedWrite(rdpTransport* transport, wStream* s) {
    rdpContext* context = transport ? transport_get_context(transport) : nullptr;
    const std::shared_ptr<PeerWatch> watch =
        context && context->peer ? peerWatch(context->peer) : nullptr;
    const pTransportRWFkt write =
        watch && watch->libraryWrite ? watch->libraryWrite : gLibraryWrite.load();
    if (!write)
        return -1;
    if (!watch)
        return write(transport, s);
    if (watch->writes.fetch_add(1) == 0)
        watch->writingSince.store(stamp());
    const size_t length = s ? Stream_GetPosition(s) : 0;
    const int status = write(transport, s);
    if (status >= 0)
        watch->bytesSent.fetch_add(length, std::memory_order_relaxed);
    if (watch->writes.fetch_sub(1) == 1)
        watch->writingSince.store(0);
    return status;
}

// The library's client loop calls GetEventHandles at the top of every turn,
// before it waits for work; once woken it hands the pending frame to the
// client, then calls CheckFileDescriptor and goes on with the channels and
// queued messages. A thread between CheckFileDescriptor and the next turn
// takes no frame.
DWORD watchedEventHandles(freerdp_peer* peer, HANDLE* events, DWORD count) {
    const std::shared_ptr<PeerWatch> watch = peer ? peerWatch(peer) : nullptr;
    const psPeerGetEventHandles library = watch && watch->libraryEventHandles
                                              ? watch->libraryEventHandles
                                              : gLibraryEventHandles.load();
    if (watch)
        watch->busySince.store(0);
    return library ? library(peer, events, count) : 0;
}

BOOL watchedCheck(freerdp_peer* peer) {
    const std::shared_ptr<PeerWatch> watch = peer ? peerWatch(peer) : nullptr;
    const psPeerCheckFileDescriptor library =
        watch && watch->libraryCheck ? watch->libraryCheck : gLibraryCheck.load();
    if (watch && watch->busySince.load() == 0)
        watch->busySince.store(stamp());
    return library ? library(peer) : FALSE;
}

// The earliest of two stamps, 0 when neither is set.
uint64_t earliest(uint64_t a, uint64_t b) {
    if (a == 0 || b == 0)
        return a ? a : b;
    return a < b ? a : b;
}

struct Closing {
    std::string host;
    GuardVerdict verdict;
    uint64_t forMs;
};

void logClosing(const Closing& c) {
    switch (c.verdict) {
    case GuardVerdict::LoginTooSlow:
        noteLoginTimeout(c.host.c_str(), c.forMs, shadow_ext_now_ms());
        break;
    case GuardVerdict::NotTakingFrames:
        logLine(WLOG_WARN,
                "closing the connection from %s: it has taken no frame for %.1f s while the "
                "other clients waited for it",
                c.host.c_str(), static_cast<double>(c.forMs) / 1000.0);
        break;
    case GuardVerdict::ServerStopping:
        logLine(WLOG_INFO, "closing the connection from %s: the server is stopping",
                c.host.c_str());
        break;
    case GuardVerdict::Keep:
        break;
    }
}

// Each connection's thread allocates from its own malloc arena, and glibc
// keeps what a flood of connections freed: the server would stay at the
// flood's peak for good. Once connections have ended (their records are
// freed right after Disconnect, on their own threads, so one turn later),
// the free memory goes back to the system, at most once a second.
constexpr uint64_t kTrimEveryMs = 1000;

void watchdog() {
    std::unique_lock lock(gWakeMutex);
    size_t peersBefore = trackedPeers();
    bool trimDue = false;
    uint64_t lastTrim = 0;
    for (;;) {
        const bool watching = peersBefore > 0 || trimDue;
        gWake.wait_for(lock, watching ? std::chrono::milliseconds(250) : std::chrono::seconds(2));
        lock.unlock();
        shadow_ext_guard_sweep();
        const uint64_t now = shadow_ext_now_ms();
        if (trimDue && (now < lastTrim || now - lastTrim >= kTrimEveryMs)) {
            (void)malloc_trim(0);
            trimDue = false;
            lastTrim = now;
        }
        const size_t peers = trackedPeers();
        trimDue = trimDue || peers < peersBefore;
        peersBefore = peers;
        lock.lock();
    }
}

} // namespace

GuardVerdict guardVerdict(const GuardFacts& facts, uint64_t now, uint64_t publishingSince,
                          bool stopping) {
    if (!facts.activated) {
        if (stopping)
            return GuardVerdict::ServerStopping;
        if (facts.held)
            return GuardVerdict::Keep;
        const uint64_t since = std::max(facts.acceptedAt, facts.releasedAt);
        if (now >= since && now - since >= kLoginGraceMs)
            return GuardVerdict::LoginTooSlow;
        return GuardVerdict::Keep;
    }
    const uint64_t stuckSince = earliest(facts.writingSince, facts.busySince);
    if (stuckSince == 0 || now < stuckSince || now - stuckSince < kStalledMs)
        return GuardVerdict::Keep;
    if (stopping)
        return GuardVerdict::ServerStopping;
    if (facts.alone)
        return GuardVerdict::Keep;
    if (publishingSince != 0 && now >= publishingSince && now - publishingSince >= kPublishWaitMs)
        return GuardVerdict::NotTakingFrames;
    return GuardVerdict::Keep;
}

bool closeOnce(PeerWatch& watch) {
    if (watch.closed.exchange(true))
        return false;
    if (watch.sockfd >= 0)
        (void)shutdown(watch.sockfd, SHUT_RDWR);
    return true;
}

bool watchTurns(freerdp_peer* peer) {
    const std::shared_ptr<PeerWatch> watch = peer ? peerWatch(peer) : nullptr;
    if (!watch || !peer->GetEventHandles || !peer->CheckFileDescriptor)
        return false;
    if (peer->GetEventHandles != watchedEventHandles) {
        watch->libraryEventHandles = peer->GetEventHandles;
        gLibraryEventHandles.store(peer->GetEventHandles);
        peer->GetEventHandles = watchedEventHandles;
    }
    if (peer->CheckFileDescriptor != watchedCheck) {
        watch->libraryCheck = peer->CheckFileDescriptor;
        gLibraryCheck.store(peer->CheckFileDescriptor);
        peer->CheckFileDescriptor = watchedCheck;
    }
    return true;
}

bool watchWrites(freerdp_peer* peer) {
    const std::shared_ptr<PeerWatch> watch = peer ? peerWatch(peer) : nullptr;
    if (!watch || !peer->context || !peer->context->rdp)
        return false;
    const rdpTransportIo* io = freerdp_get_io_callbacks(peer->context);
    if (!io)
        return false;
    rdpTransportIo watched = *io;
    if (watched.WritePdu == watchedWrite)
        return true;
    watch->libraryWrite = watched.WritePdu;
    gLibraryWrite.store(watched.WritePdu);
    watched.WritePdu = watchedWrite;
    return freerdp_set_io_callbacks(peer->context, &watched) ? true : false;
}

void logLine(DWORD level, const char* format, ...) {
    static wLog* log = WLog_Get("com.freerdp.server.shadow.ext");
    if (!log || !WLog_IsLevelActive(log, level))
        return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    WLog_Print(log, level, "%s", text);
}

} // namespace shadow_ext

using namespace shadow_ext;

extern "C" void shadow_ext_set_clock(uint64_t (*nowMs)(void)) {
    gClock.store(nowMs);
}

extern "C" uint64_t shadow_ext_now_ms(void) {
    auto clock = gClock.load(std::memory_order_relaxed);
    return clock ? clock() : winpr_GetTickCount64();
}

extern "C" BOOL shadow_ext_guard_start(void) {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        try {
            std::thread(watchdog).detach();
            started = true;
        } catch (const std::system_error&) {
            started = false;
        }
    });
    return started ? TRUE : FALSE;
}

extern "C" size_t shadow_ext_guard_sweep(void) {
    const uint64_t now = shadow_ext_now_ms();
    const uint64_t publishing = gPublishingSince.load();
    const bool stopping = gStopping.load();
    std::vector<Closing> closed;
    size_t activated = 0;
    forEachPeer([&](freerdp_peer*, PeerState& state) {
        const PeerWatch* watch = state.watch.get();
        activated += watch && !watch->closed.load() && watch->activated.load() ? 1 : 0;
    });
    // Under the table's lock: a peer still in it has its socket open.
    forEachPeer([&](freerdp_peer*, PeerState& state) {
        PeerWatch* watch = state.watch.get();
        if (!watch || watch->closed.load())
            return;
        GuardFacts facts;
        facts.acceptedAt = watch->acceptedAt;
        facts.activated = watch->activated.load();
        facts.writingSince = watch->writingSince.load();
        facts.busySince = watch->busySince.load();
        facts.held = watch->held.load();
        facts.releasedAt = watch->releasedAt.load();
        facts.alone = activated <= 1;
        const GuardVerdict verdict = guardVerdict(facts, now, publishing, stopping);
        if (verdict == GuardVerdict::Keep || !closeOnce(*watch))
            return;
        const uint64_t since =
            facts.activated ? earliest(facts.writingSince, facts.busySince) : facts.acceptedAt;
        closed.push_back({watch->host, verdict, now >= since ? now - since : 0});
    });
    for (const Closing& c : closed)
        logClosing(c);
    return closed.size();
}

extern "C" void shadow_ext_publish_begin(void) {
    gPublications.fetch_add(1, std::memory_order_relaxed);
    gPublishingSince.store(stamp());
}

extern "C" void shadow_ext_publish_end(void) {
    gPublishingSince.store(0);
}

extern "C" uint64_t shadow_ext_publications(void) {
    return gPublications.load(std::memory_order_relaxed);
}

extern "C" void shadow_ext_peers_stopping(void) {
    gStopping.store(true);
    shadow_ext_guard_sweep();
    gWake.notify_all();
}

extern "C" void shadow_ext_guard_reset(void) {
    gStopping.store(false);
    gPublishingSince.store(0);
}

extern "C" size_t shadow_ext_unfinished_logins(void) {
    return shadow_ext_unfinished_logins_from(nullptr);
}

extern "C" size_t shadow_ext_unfinished_logins_from(const char* host) {
    size_t n = 0;
    forEachPeer([&n, host](freerdp_peer*, PeerState& state) {
        // A held client has logged in: it is no unfinished login.
        if (state.watch && !state.watch->activated.load() && !state.watch->held.load() &&
            (!host || state.watch->host == host))
            n += 1;
    });
    return n;
}

extern "C" BOOL shadow_ext_raise_open_files_limit(void) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        logLine(WLOG_WARN, "open files limit: unknown");
        return FALSE;
    }
    const auto before = static_cast<unsigned long long>(limit.rlim_cur);
    if (limit.rlim_cur == limit.rlim_max) {
        logLine(WLOG_INFO, "open files limit: %llu (the hard limit)", before);
        return TRUE;
    }
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        logLine(WLOG_WARN, "open files limit stays at %llu: the hard limit %llu was refused",
                before, static_cast<unsigned long long>(limit.rlim_max));
        return FALSE;
    }
    logLine(WLOG_INFO, "open files limit raised from %llu to %llu", before,
            static_cast<unsigned long long>(limit.rlim_cur));
    return TRUE;
}
