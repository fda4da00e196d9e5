#include "sound_runner.h"

#include "capture_log.h"

namespace corvane::capture {

class SoundRunner::Sink : public platform::SoundSink {
  public:
    Sink(SoundRunner& runner, uint64_t serial) : runner_(runner), serial_(serial) {}
    void soundArrived(const platform::SoundBuffer& buffer) override { runner_.arrived(buffer); }
    void soundEnded(const std::string& reason) override { runner_.ended(serial_, reason); }

  private:
    SoundRunner& runner_;
    uint64_t serial_;
};

SoundRunner::SoundRunner(ServiceFn service, DeliverFn deliver)
    : service_(std::move(service)), deliver_(std::move(deliver)) {
    thread_ = std::thread([this] { run(); });
}

SoundRunner::~SoundRunner() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    work_.notify_all();
    thread_.join();
    capture_.reset();
    sink_.reset();
}

void SoundRunner::want(bool wanted) {
    {
        std::lock_guard gate(gate_);
        delivering_ = wanted;
    }
    std::lock_guard lock(mutex_);
    wanted_ = wanted;
    dirty_ = true;
    work_.notify_all();
}

bool SoundRunner::settle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return idleChanged_.wait_for(lock, limit, [&] { return idle_ && !dirty_; });
}

void SoundRunner::setClock(ClockFn clock) {
    std::lock_guard lock(mutex_);
    realClock_ = !clock;
    clock_ = clock ? std::move(clock) : ClockFn(Clock::now);
    dirty_ = true;
    work_.notify_all();
}

void SoundRunner::wake() {
    std::lock_guard lock(mutex_);
    dirty_ = true;
    work_.notify_all();
}

void SoundRunner::resetForTests() {
    std::lock_guard lock(mutex_);
    loggedNoSound_ = false;
    outage_ = false;
    retry_ = platform::Backoff(kSoundFirstRetry, kSoundLongestRetry);
    dirty_ = true;
    work_.notify_all();
}

void SoundRunner::arrived(const platform::SoundBuffer& buffer) {
    std::lock_guard gate(gate_);
    if (delivering_)
        deliver_(buffer);
}

// On the backend's thread: only noted here, the thread does the rest (a
// capture is never destroyed from its own sink).
void SoundRunner::ended(uint64_t serial, const std::string& reason) {
    std::lock_guard lock(mutex_);
    if (serial != serial_)
        return;
    endedSerial_ = serial;
    endReason_ = reason;
    dirty_ = true;
    work_.notify_all();
}

void SoundRunner::waitForWork(std::unique_lock<std::mutex>& lock) {
    idle_ = true;
    idleChanged_.notify_all();
    const auto woken = [&] { return dirty_ || quit_; };
    if (wanted_ && !capture_ && retry_.failures() > 0 && realClock_)
        work_.wait_until(lock, retry_.nextAttempt(), woken);
    else
        work_.wait(lock, woken);
    idle_ = false;
}

void SoundRunner::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        dirty_ = false;
        if (quit_)
            return;
        const bool ended = capture_ && endedSerial_ == serial_;
        if (capture_ && (ended || !wanted_)) {
            auto capture = std::move(capture_);
            auto sink = std::move(sink_);
            const bool again = ended && wanted_;
            const std::string reason = endReason_;
            if (ended) {
                // The first new start goes at once: another default output
                // may be there already.
                outage_ = true;
                retry_.succeeded();
            }
            lock.unlock();
            if (again)
                log("system sound stopped (%s); starting it again", reason.c_str());
            capture.reset();
            sink.reset();
            lock.lock();
            continue;
        }
        if (!capture_ && wanted_ && retry_.due(clock_())) {
            auto sink = std::make_unique<Sink>(*this, ++serial_);
            lock.unlock();
            std::string error;
            auto capture = service_().start(*sink, error);
            lock.lock();
            if (capture) {
                retry_.succeeded();
                capture_ = std::move(capture);
                sink_ = std::move(sink);
                if (outage_)
                    log("system sound is back");
                outage_ = false;
            } else {
                retry_.failed(clock_());
                if (!outage_ && !loggedNoSound_)
                    log("no system sound (%s); sharing the screen without it", error.c_str());
                loggedNoSound_ = true;
            }
            continue;
        }
        waitForWork(lock);
    }
}

} // namespace corvane::capture
