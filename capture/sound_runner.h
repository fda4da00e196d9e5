// Keeps the system sound running while a stream wants it, from a thread of
// its own. The sound server may take seconds to answer a start or a stop, or
// not answer at all; the stream that carries sound only says whether it
// wants sound and never waits for it. The thread starts and stops the
// platform's capture to match, starts it again when it ends on its own (a
// restarted sound server, another default output) and tries a failed start
// again on a growing schedule.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/backoff.h"
#include "platform/sound.h"

namespace corvane::capture {

// A sound server that restarts is back within about a second of answering
// again; one that is not there costs one quick attempt a second.
inline constexpr std::chrono::milliseconds kSoundFirstRetry{100};
inline constexpr std::chrono::milliseconds kSoundLongestRetry{1000};

class SoundRunner {
  public:
    using Clock = platform::Backoff::Clock;
    using ClockFn = std::function<Clock::time_point()>;
    // The sound service, asked at every start.
    using ServiceFn = std::function<platform::Sound&()>;
    // Receives every buffer while sound is wanted, one at a time.
    using DeliverFn = std::function<void(const platform::SoundBuffer&)>;

    SoundRunner(ServiceFn service, DeliverFn deliver);
    // Stops the capture and the thread, waiting for both.
    ~SoundRunner();
    SoundRunner(const SoundRunner&) = delete;
    SoundRunner& operator=(const SoundRunner&) = delete;

    // Never waits for the sound server. Once want(false) has returned, no
    // buffer is being delivered and none is until sound is wanted again.
    void want(bool wanted);
    // Waits up to `limit` until the capture runs or is stopped as wanted and
    // nothing else is due now; true when it is.
    bool settle(std::chrono::milliseconds limit);
    // The schedule's clock (null: the real one). With a clock of its own the
    // thread waits for wake() instead of for time to pass.
    void setClock(ClockFn clock);
    void wake();
    // Tests: forgets past failures and lets the "no system sound" line be
    // written again.
    void resetForTests();

  private:
    class Sink;
    void run();
    void arrived(const platform::SoundBuffer& buffer);
    void ended(uint64_t serial, const std::string& reason);
    void waitForWork(std::unique_lock<std::mutex>& lock);

    ServiceFn service_;
    DeliverFn deliver_;

    // Held while a buffer is delivered; want() takes it to open or close
    // the way to the receiver.
    std::mutex gate_;
    bool delivering_ = false;

    std::mutex mutex_; // guards everything below but the thread
    std::condition_variable work_;
    std::condition_variable idleChanged_;
    ClockFn clock_ = Clock::now;
    bool realClock_ = true;
    bool wanted_ = false;
    bool quit_ = false;
    bool dirty_ = false;  // something changed since the thread last looked
    bool idle_ = false;   // the thread waits with nothing due
    bool outage_ = false; // sound ended on its own and is not back yet
    bool loggedNoSound_ = false;
    uint64_t serial_ = 0;      // of the capture started last
    uint64_t endedSerial_ = 0; // of the capture that ended on its own last
    std::string endReason_;
    platform::Backoff retry_{kSoundFirstRetry, kSoundLongestRetry};
    // The sink outlives its capture: declared first, destroyed last.
    std::unique_ptr<Sink> sink_;
    std::unique_ptr<platform::SoundCapture> capture_;

    std::thread thread_;
};

} // namespace corvane::capture
