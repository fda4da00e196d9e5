// The pasteboard on X11: the CLIPBOARD selection. A helper thread with its
// own X connection owns and serves the selection when the server wrote last
// (targets TARGETS, TIMESTAMP, UTF8_STRING, STRING, TEXT,
// text/plain;charset=utf-8 and image/png, large values by INCR), asks the
// owner for its contents otherwise (UTF8_STRING or STRING, image/png,
// image/tiff; INCR replies accepted), and counts ownership changes from
// XFixes selection events. Callers on other threads hand it jobs and wait a
// bounded time for the answer. When the X server goes away the thread ends,
// also in the middle of a job, and a later call starts a new one on the
// display once a retry is due, on the same schedule as the other services'
// connections: a restarted X server is found again.
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

#include "../backoff.h"
#include "../pasteboard.h"

namespace corvane::platform::x11 {

class SelectionWorker;

class X11Pasteboard : public Pasteboard {
  public:
    using ClockFn = std::function<Backoff::Clock::time_point()>;
    explicit X11Pasteboard(ClockFn clock = Backoff::Clock::now);
    ~X11Pasteboard() override;
    int64_t changeCount() override;
    uint32_t types() override;
    std::optional<std::vector<uint8_t>> read(PasteboardType type) override;
    bool write(PasteboardType type, std::vector<uint8_t> data) override;

  private:
    std::shared_ptr<SelectionWorker> worker();

    // One conversion at a time: the selection answers one request per
    // requestor window. The change count never waits for it.
    std::mutex operationMutex_;
    std::mutex mutex_; // guards worker_ and retry_
    std::shared_ptr<SelectionWorker> worker_;
    ClockFn clock_;
    Backoff retry_;
    // Counts changes across worker restarts.
    std::shared_ptr<std::atomic<int64_t>> count_;
};

} // namespace corvane::platform::x11
