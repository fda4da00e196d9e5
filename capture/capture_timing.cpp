#include "capture_timing.h"

#include <atomic>
#include <thread>

namespace corvane::capture {

void Signal::notify() {
    {
        std::lock_guard lock(mutex_);
        notified_ = true;
    }
    cv_.notify_all();
}

bool Signal::notified() {
    std::lock_guard lock(mutex_);
    return notified_;
}

bool Signal::waitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [this] { return notified_; });
}

namespace {

class RealTiming : public Timing {
  public:
    bool wait(Signal& signal, std::chrono::milliseconds limit) override {
        return signal.waitFor(limit);
    }
    void sleep(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

RealTiming gReal;
std::atomic<Timing*> gReplacement{nullptr};

} // namespace

Timing& timing() {
    Timing* replacement = gReplacement.load();
    return replacement ? *replacement : gReal;
}

void setTimingForTests(Timing* replacement) {
    gReplacement.store(replacement);
}

} // namespace corvane::capture
