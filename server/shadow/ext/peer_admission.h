// Who may start a login. Connections that have not logged in yet cost a
// thread and a dozen descriptors each, and an attacker can keep opening
// them; so, as the best-kept servers do:
//   - each address may have a few of them at once;
//   - past a start count, a growing share of new connections is refused, all
//     of them once the full count is reached (OpenSSH's start:rate:full), so
//     that a fresh address still gets a chance while the others fill it;
//   - an address whose connections end without logging in within the grace
//     time waits before its next one, for a time that doubles with each.
// Refusals and timeouts are logged with the address they concern, at most
// one line per address a minute, with the count of those held back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace shadow_ext {

inline constexpr size_t kMaxUnfinishedPerAddress = 3;
inline constexpr size_t kShedStart = 10;
inline constexpr unsigned kShedRatePercent = 30;
inline constexpr size_t kShedFull = 64;
inline constexpr uint64_t kPenaltyFirstMs = 10000;
inline constexpr uint64_t kPenaltyMaxMs = 300000;
inline constexpr uint64_t kPenaltyForgetMs = 3600000;
inline constexpr uint64_t kLinePerAddressMs = 60000;

enum class Admission { Admit, AddressBusy, Shed, Penalised };

// Pure: what a new connection gets, given the unfinished logins of the whole
// server and of its address, what remains of its address's penalty, and a
// roll in 0..99.
Admission admissionVerdict(size_t unfinished, size_t unfinishedFromAddress,
                           uint64_t penaltyLeftMs, unsigned roll);
// The share of new connections refused at `unfinished` (percent).
unsigned shedPercent(size_t unfinished);

// Addresses whose connections timed out before logging in. Bounded: the
// entry whose penalty ended first makes room.
class PenaltyBook {
  public:
    // Returns the penalty this timeout imposes.
    uint64_t timedOut(const std::string& host, uint64_t now);
    uint64_t remaining(const std::string& host, uint64_t now) const;
    void clear();

  private:
    struct Entry {
        int timeouts = 0;
        uint64_t until = 0;
        uint64_t last = 0;
    };
    static constexpr size_t kMaxEntries = 1024;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

// At most one line per address per kLinePerAddressMs. Bounded like the book.
class LinePerAddress {
  public:
    // True when a line is due now; *heldBack is how many were held back since
    // the last one.
    bool due(const std::string& host, uint64_t now, uint64_t* heldBack);
    void clear();

  private:
    struct Entry {
        uint64_t lastLine = 0;
        uint64_t heldBack = 0;
    };
    static constexpr size_t kMaxEntries = 1024;
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

// The process's book and the refusal and timeout lines.
PenaltyBook& penalties();
LinePerAddress& refusalLines();
LinePerAddress& timeoutLines();
LinePerAddress& failureLines();
// A roll in 0..99 for the shedding (tests replace it; null restores).
unsigned shedRoll();
void setShedRollForTests(unsigned (*roll)());

// Logs a refusal for `host`, if its line is due.
void logRefusal(Admission verdict, const char* host, size_t unfinished, size_t fromAddress,
                uint64_t penaltyLeftMs, uint64_t now);
// A connection from `host` ended without logging in within the grace time:
// its address is held back, and the line says for how long.
void noteLoginTimeout(const char* host, uint64_t graceMs, uint64_t now);
// A connection from `host` ended before logging in: a wrong password, a
// broken handshake, garbage. The library's own lines for it carry no
// address; this one does.
void noteLoginFailure(const char* host, uint64_t now);

} // namespace shadow_ext
