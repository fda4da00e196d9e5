#include "peer_admission.h"

#include <atomic>
#include <random>

#include "peer_guard.h"

namespace shadow_ext {

namespace {

template <typename Entry, typename Stale>
void makeRoom(std::map<std::string, Entry>& entries, size_t maxEntries, Stale staleness) {
    if (entries.size() < maxEntries)
        return;
    auto oldest = entries.begin();
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (staleness(it->second) < staleness(oldest->second))
            oldest = it;
    entries.erase(oldest);
}

unsigned randomRoll() {
    thread_local std::minstd_rand engine{std::random_device{}()};
    return static_cast<unsigned>(engine() % 100);
}

std::atomic<unsigned (*)()> gRoll{randomRoll};

} // namespace

unsigned shedPercent(size_t unfinished) {
    if (unfinished < kShedStart)
        return 0;
    if (unfinished >= kShedFull)
        return 100;
    return kShedRatePercent + static_cast<unsigned>((100 - kShedRatePercent) *
                                                    (unfinished - kShedStart) /
                                                    (kShedFull - kShedStart));
}

Admission admissionVerdict(size_t unfinished, size_t unfinishedFromAddress,
                           uint64_t penaltyLeftMs, unsigned roll) {
    if (penaltyLeftMs > 0)
        return Admission::Penalised;
    if (unfinishedFromAddress >= kMaxUnfinishedPerAddress)
        return Admission::AddressBusy;
    return roll < shedPercent(unfinished) ? Admission::Shed : Admission::Admit;
}

uint64_t PenaltyBook::timedOut(const std::string& host, uint64_t now) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(host);
    if (it == entries_.end()) {
        makeRoom(entries_, kMaxEntries, [](const Entry& e) { return e.until; });
        it = entries_.emplace(host, Entry{}).first;
    } else if (now >= it->second.last && now - it->second.last > kPenaltyForgetMs) {
        it->second.timeouts = 0;
    }
    Entry& e = it->second;
    uint64_t penalty = kPenaltyFirstMs;
    for (int i = 0; i < e.timeouts && penalty < kPenaltyMaxMs; ++i)
        penalty *= 2;
    penalty = penalty < kPenaltyMaxMs ? penalty : kPenaltyMaxMs;
    if (e.timeouts < 64)
        e.timeouts++;
    e.last = now;
    e.until = now + penalty;
    return penalty;
}

uint64_t PenaltyBook::remaining(const std::string& host, uint64_t now) const {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(host);
    return it != entries_.end() && it->second.until > now ? it->second.until - now : 0;
}

void PenaltyBook::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

bool LinePerAddress::due(const std::string& host, uint64_t now, uint64_t* heldBack) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(host);
    if (it == entries_.end()) {
        makeRoom(entries_, kMaxEntries, [](const Entry& e) { return e.lastLine; });
        it = entries_.emplace(host, Entry{}).first;
    }
    Entry& e = it->second;
    if (e.lastLine != 0 && now >= e.lastLine && now - e.lastLine < kLinePerAddressMs) {
        e.heldBack++;
        return false;
    }
    if (heldBack)
        *heldBack = e.heldBack;
    e.heldBack = 0;
    e.lastLine = now ? now : 1;
    return true;
}

void LinePerAddress::clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
}

PenaltyBook& penalties() {
    static PenaltyBook book;
    return book;
}

LinePerAddress& refusalLines() {
    static LinePerAddress lines;
    return lines;
}

LinePerAddress& timeoutLines() {
    static LinePerAddress lines;
    return lines;
}

LinePerAddress& failureLines() {
    static LinePerAddress lines;
    return lines;
}

unsigned shedRoll() {
    return gRoll.load()();
}

void setShedRollForTests(unsigned (*roll)()) {
    gRoll.store(roll ? roll : randomRoll);
}

void logRefusal(Admission verdict, const char* host, size_t unfinished, size_t fromAddress,
                uint64_t penaltyLeftMs, uint64_t now) {
    uint64_t heldBack = 0;
    if (!refusalLines().due(host, now, &heldBack))
        return;
    const auto held = static_cast<unsigned long long>(heldBack);
    switch (verdict) {
    case Admission::AddressBusy:
        logLine(WLOG_WARN,
                "refusing the connection from %s: %zu connections from it are still logging in "
                "(%llu more refused from it since the last line)",
                host, fromAddress, held);
        break;
    case Admission::Shed:
        logLine(WLOG_WARN,
                "refusing the connection from %s: %zu connections are logging in, %u%% of new "
                "ones are refused (%llu more refused from it since the last line)",
                host, unfinished, shedPercent(unfinished), held);
        break;
    case Admission::Penalised:
        logLine(WLOG_WARN,
                "refusing the connection from %s: held back for another %llu s after its "
                "connections did not log in (%llu more refused from it since the last line)",
                host, static_cast<unsigned long long>((penaltyLeftMs + 999) / 1000), held);
        break;
    case Admission::Admit:
        break;
    }
}

void noteLoginTimeout(const char* host, uint64_t graceMs, uint64_t now) {
    const uint64_t penalty = penalties().timedOut(host, now);
    uint64_t heldBack = 0;
    if (!timeoutLines().due(host, now, &heldBack))
        return;
    logLine(WLOG_WARN,
            "closing the connection from %s: not logged in after %llu s; its next connection "
            "waits %llu s (%llu more such connections from it since the last line)",
            host, static_cast<unsigned long long>(graceMs / 1000),
            static_cast<unsigned long long>(penalty / 1000),
            static_cast<unsigned long long>(heldBack));
}

} // namespace shadow_ext

namespace shadow_ext {

void noteLoginFailure(const char* host, uint64_t now) {
    uint64_t heldBack = 0;
    if (!failureLines().due(host, now, &heldBack))
        return;
    logLine(WLOG_INFO,
            "the connection from %s ended before logging in (%llu more from it since the last "
            "line)",
            host, static_cast<unsigned long long>(heldBack));
}

} // namespace shadow_ext
