// One stream's serial delivery: frames from the platform wait in order and
// one thread of the stream's own hands them to the core's callback, so the
// callback of one stream never runs twice at once. Frames that are not
// complete or carry no image are dropped before any pixel work.
#pragma once
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "mac_capture.h"
#include "platform/capture.h"

namespace corvane::capture {

struct DeliveryTarget {
    mac_frame_callback callback = nullptr; // null: frames are dropped
    void* user = nullptr;
    int32_t originX = 0;
    int32_t originY = 0;
};

class FrameDelivery : public platform::CaptureSink {
  public:
    explicit FrameDelivery(const DeliveryTarget& target);
    // Ends the thread without waiting for a callback in progress (a delivery
    // may be dropped from its own thread); a thread that has finished is
    // joined, one still in a callback is let go and ends on its own.
    ~FrameDelivery() override;

    void frameArrived(platform::FrameHandle frame) override;
    void streamStopped(const std::string& reason) override;

    // Drops waiting frames, lets a running callback finish and ends the
    // thread; true when it ended within `limit` (then it is joined: the
    // thread-local state libraries keep for it, such as OpenSSL's random
    // generator that FreeRDP's image copy sets up, is gone too). No callback
    // starts after.
    bool close(std::chrono::milliseconds limit);

    struct State;

  private:
    // Joins the thread once it has finished, or lets it go when it is the
    // calling thread or still in a callback.
    void reap(bool finished);

    std::shared_ptr<State> state_;
    std::mutex workerMutex_;
    std::thread worker_;
};

// Waits up to `limit` until no frame callback of any stream runs; true when
// none does.
bool waitCallbacksIdle(std::chrono::milliseconds limit);

// A stream that the display server ended on its own: logged and counted.
void noteStreamStopped(const std::string& reason);
int64_t stoppedCount();

} // namespace corvane::capture
