#include "capture_delivery.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "capture_log.h"
#include "capture_rects.h"

namespace corvane::capture {

struct FrameDelivery::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable ended;
    std::deque<platform::FrameHandle> waiting;
    bool closing = false;
    bool finished = false;
    std::thread::id thread;
    DeliveryTarget target;
};

namespace {

// Frame callbacks running right now, in all streams: the subsystem's record
// must outlive them.
std::mutex gRunningMutex;
std::condition_variable gRunningEnded;
int gRunning = 0;

void deliver(const DeliveryTarget& target, const platform::CaptureFrame& frame) {
    const std::vector<int32_t> rects = roundDirtyRects(frame.dirty, frame.width, frame.height);
    target.callback(target.user, target.originX, target.originY, frame.pixels, frame.stride,
                    frame.width, frame.height, rects.data(),
                    static_cast<int32_t>(rects.size() / 4));
}

// The thread owns its state, so it may outlive the delivery object when it
// is let go.
void run(std::shared_ptr<FrameDelivery::State> state) {
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&] { return state->closing || !state->waiting.empty(); });
        if (state->closing)
            break;
        platform::FrameHandle frame = std::move(state->waiting.front());
        state->waiting.pop_front();
        lock.unlock();
        if (state->target.callback) {
            {
                std::lock_guard running(gRunningMutex);
                ++gRunning;
            }
            deliver(state->target, *frame);
            std::lock_guard running(gRunningMutex);
            if (--gRunning == 0)
                gRunningEnded.notify_all();
        }
        frame.reset(); // the buffer goes back to the stream before the next wait
        lock.lock();
    }
    state->waiting.clear();
    state->finished = true;
    state->ended.notify_all();
}

} // namespace

FrameDelivery::FrameDelivery(const DeliveryTarget& target) : state_(std::make_shared<State>()) {
    state_->target = target;
    std::lock_guard lock(state_->mutex);
    worker_ = std::thread(run, state_);
    state_->thread = worker_.get_id();
}

FrameDelivery::~FrameDelivery() {
    bool finished = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->closing = true;
        state_->wake.notify_all();
        finished = state_->finished;
    }
    reap(finished);
}

void FrameDelivery::reap(bool finished) {
    std::lock_guard lock(workerMutex_);
    if (!worker_.joinable())
        return;
    // Not finished: it is the calling thread, or a callback still runs; it
    // owns its state and ends on its own.
    if (finished && worker_.get_id() != std::this_thread::get_id())
        worker_.join(); // only its last steps are left
    else
        worker_.detach();
}

void FrameDelivery::frameArrived(platform::FrameHandle frame) {
    if (!frame || frame->status != platform::FrameStatus::Complete || !frame->pixels ||
        frame->width <= 0 || frame->height <= 0)
        return;
    std::lock_guard lock(state_->mutex);
    if (state_->closing)
        return;
    state_->waiting.push_back(std::move(frame));
    state_->wake.notify_one();
}

void FrameDelivery::streamStopped(const std::string& reason) {
    noteStreamStopped(reason);
}

bool FrameDelivery::close(std::chrono::milliseconds limit) {
    std::unique_lock lock(state_->mutex);
    state_->closing = true;
    state_->waiting.clear();
    state_->wake.notify_all();
    // Closed from its own callback: the thread ends once the callback returns.
    if (std::this_thread::get_id() == state_->thread)
        return true;
    const bool ended = state_->ended.wait_for(lock, limit, [&] { return state_->finished; });
    lock.unlock();
    if (ended)
        reap(true);
    return ended;
}

bool waitCallbacksIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(gRunningMutex);
    return gRunningEnded.wait_for(lock, limit, [] { return gRunning == 0; });
}

namespace {
std::mutex gStoppedLock;
int64_t gStoppedCount = 0;
} // namespace

void noteStreamStopped(const std::string& reason) {
    log("stream stopped: %s", reason.c_str());
    std::lock_guard lock(gStoppedLock);
    ++gStoppedCount;
}

int64_t stoppedCount() {
    std::lock_guard lock(gStoppedLock);
    return gStoppedCount;
}

} // namespace corvane::capture
