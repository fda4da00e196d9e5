#include "x11_capture_stream.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "x11_capture_session.h"

namespace corvane::platform::x11 {

struct X11CaptureStream::Core {
    uint32_t displayId = 0;
    CaptureSettings settings;
    int wakeFd = -1;
    std::atomic<int64_t> intervalNs{0};
    std::atomic<bool> stopWanted{false};

    std::mutex mutex; // guards sink, stopDone, finished
    std::condition_variable ended;
    CaptureSink* sink = nullptr;
    std::function<void()> stopDone;
    bool started = false;
    bool finished = false;

    ~Core() {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    void wake() const {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
    }
};

namespace {

// The capture thread. It owns a reference to the core, so the stream object
// may go away first.
void runStream(std::shared_ptr<X11CaptureStream::Core> core, CaptureCompletion started) {
    CaptureSession session(core->displayId, core->settings, core->wakeFd, [core] { core->wake(); });
    std::string error;
    const bool ok = session.open(error);
    started(ok, error);
    std::string stopReason;
    if (ok) {
        SessionHooks hooks;
        hooks.interval = [core] { return std::chrono::nanoseconds(core->intervalNs.load()); };
        hooks.stopWanted = [core] { return core->stopWanted.load(); };
        hooks.deliver = [core](FrameHandle frame) {
            std::lock_guard lock(core->mutex);
            if (core->sink)
                core->sink->frameArrived(std::move(frame));
        };
        stopReason = session.run(hooks);
    }
    session.close();
    std::function<void()> done;
    {
        std::lock_guard lock(core->mutex);
        if (!stopReason.empty() && core->sink && !core->stopWanted.load())
            core->sink->streamStopped(stopReason);
        core->finished = true;
        done = std::move(core->stopDone);
    }
    core->ended.notify_all();
    if (done)
        done();
}

} // namespace

X11CaptureStream::X11CaptureStream(uint32_t displayId, const CaptureSettings& settings,
                                   CaptureSink& sink)
    : core_(std::make_shared<Core>()) {
    core_->displayId = displayId;
    core_->settings = settings;
    core_->sink = &sink;
    core_->intervalNs.store(settings.minFrameInterval.count());
    core_->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

X11CaptureStream::~X11CaptureStream() {
    std::unique_lock lock(core_->mutex);
    core_->sink = nullptr;
    if (!core_->started)
        return;
    core_->stopWanted.store(true);
    core_->wake();
    // A thread stuck on a hung X server is left behind rather than waited
    // for; it holds its own reference to the core.
    core_->ended.wait_for(lock, std::chrono::seconds(5), [&] { return core_->finished; });
}

void X11CaptureStream::start(CaptureCompletion done) {
    {
        std::lock_guard lock(core_->mutex);
        if (core_->started || core_->wakeFd < 0) {
            done(false,
                 core_->started ? "the stream was started already" : "no wake-up descriptor");
            return;
        }
        core_->started = true;
    }
    std::thread(runStream, core_, std::move(done)).detach();
}

void X11CaptureStream::setMinFrameInterval(std::chrono::nanoseconds interval,
                                           CaptureCompletion done) {
    if (interval.count() <= 0) {
        done(false, "the frame interval must be positive");
        return;
    }
    core_->intervalNs.store(interval.count());
    core_->wake();
    done(true, {});
}

void X11CaptureStream::stop(std::function<void()> done) {
    {
        std::lock_guard lock(core_->mutex);
        if (!core_->started || core_->finished) {
            core_->stopWanted.store(true);
            // fall through to answer at once
        } else {
            core_->stopWanted.store(true);
            core_->stopDone = std::move(done);
            core_->wake();
            return;
        }
    }
    done();
}

} // namespace corvane::platform::x11
