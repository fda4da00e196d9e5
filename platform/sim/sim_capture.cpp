#include "sim_capture.h"

namespace corvane::platform::sim {

namespace {

// The frame owns its pixels; releasing it lowers the stream's held count.
struct OwnedFrame : CaptureFrame {
    std::vector<uint32_t> storage;
};

} // namespace

CaptureSettings SimStreamState::settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

bool SimStreamState::started() const {
    std::lock_guard lock(mutex_);
    return started_;
}

bool SimStreamState::stopRequested() const {
    std::lock_guard lock(mutex_);
    return stopRequested_;
}

bool SimStreamState::destroyed() const {
    std::lock_guard lock(mutex_);
    return destroyed_;
}

int32_t SimStreamState::framesHeld() const {
    std::lock_guard lock(mutex_);
    return *held_;
}

bool SimStreamState::pushFrame(const SimFrame& scripted) {
    std::lock_guard lock(mutex_);
    if (!sink_ || !started_ || stopRequested_ || *held_ >= settings_.queueDepth)
        return false;
    auto frame = std::make_shared<OwnedFrame>();
    frame->status = scripted.status;
    frame->width = scripted.width;
    frame->height = scripted.height;
    frame->dirty = scripted.dirty;
    frame->storage = scripted.pixels;
    if (!frame->storage.empty()) {
        frame->pixels = reinterpret_cast<const uint8_t*>(frame->storage.data());
        frame->stride = static_cast<intptr_t>(scripted.width) * 4;
    }
    ++*held_;
    // The count is shared, not the state: a frame may outlive its stream.
    FrameHandle handle(frame.get(), [frame, held = held_](const CaptureFrame*) mutable {
        --*held;
        frame.reset();
    });
    sink_->frameArrived(std::move(handle));
    return true;
}

void SimStreamState::stopFromDisplayServer(const std::string& reason) {
    std::lock_guard lock(mutex_);
    if (!sink_ || !started_)
        return;
    started_ = false;
    sink_->streamStopped(reason);
}

// A stream handed to the bridge; the state outlives it for inspection.
class SimCaptureStream : public CaptureStream {
  public:
    SimCaptureStream(SimCapture& owner, std::shared_ptr<SimStreamState> state)
        : owner_(owner), state_(std::move(state)) {}

    ~SimCaptureStream() override {
        std::lock_guard lock(state_->mutex_);
        state_->sink_ = nullptr;
        state_->started_ = false;
        state_->destroyed_ = true;
    }

    void start(CaptureCompletion done) override {
        SimAnswer answer = owner_.startAnswerNow();
        if (answer == SimAnswer::Hang) {
            owner_.keepHung([done] { done(false, "the display server answered too late"); });
            return;
        }
        if (answer == SimAnswer::Fail) {
            done(false, "the display server refused to start the stream");
            return;
        }
        {
            std::lock_guard lock(state_->mutex_);
            state_->started_ = true;
        }
        done(true, {});
    }

    void setMinFrameInterval(std::chrono::nanoseconds interval, CaptureCompletion done) override {
        SimAnswer answer = owner_.intervalAnswerNow();
        owner_.recordInterval(interval);
        if (answer == SimAnswer::Hang) {
            owner_.keepHung([done] { done(false, "the display server answered too late"); });
            return;
        }
        if (answer == SimAnswer::Fail) {
            done(false, "the display server refused the frame interval");
            return;
        }
        {
            std::lock_guard lock(state_->mutex_);
            state_->settings_.minFrameInterval = interval;
        }
        done(true, {});
    }

    void stop(std::function<void()> done) override {
        {
            std::lock_guard lock(state_->mutex_);
            state_->stopRequested_ = true;
            state_->started_ = false;
        }
        if (owner_.stopAnswerNow() == SimAnswer::Hang) {
            owner_.keepHung(std::move(done));
            return;
        }
        done();
    }

  private:
    SimCapture& owner_;
    std::shared_ptr<SimStreamState> state_;
};

void SimCapture::shareableContent(ContentReply reply) {
    std::unique_lock lock(mutex_);
    ++queries_;
    if (contentAnswer_ == SimAnswer::Hang) {
        hung_.push_back([reply] { reply(std::nullopt, "the content query answered too late"); });
        return;
    }
    if (contentAnswer_ == SimAnswer::Fail) {
        lock.unlock();
        reply(std::nullopt, "the user declined screen capture");
        return;
    }
    ShareableContent content = content_;
    content.displays.insert(content.displays.end(), extra_.begin(), extra_.end());
    if (visibleFromQuery_ > 0 && queries_ < visibleFromQuery_)
        content.displays.clear();
    lock.unlock();
    reply(std::move(content), {});
}

std::unique_ptr<CaptureStream> SimCapture::createStream(const CaptureDisplay& display,
                                                        const CaptureSettings& settings,
                                                        CaptureSink& sink, std::string& error) {
    std::lock_guard lock(mutex_);
    if (createAnswer_ != SimAnswer::Succeed) {
        error = "the stream refused its output";
        return nullptr;
    }
    auto state = std::make_shared<SimStreamState>();
    state->display_ = display;
    state->settings_ = settings;
    state->sink_ = &sink;
    streams_.push_back(state);
    return std::make_unique<SimCaptureStream>(*this, state);
}

void SimCapture::setDisplays(std::vector<CaptureDisplay> displays, uint32_t mainDisplayId) {
    std::lock_guard lock(mutex_);
    content_.displays = std::move(displays);
    content_.mainDisplayId = mainDisplayId;
}

void SimCapture::setExtraDisplays(std::vector<CaptureDisplay> displays) {
    std::lock_guard lock(mutex_);
    extra_ = std::move(displays);
}

void SimCapture::setContentAnswer(SimAnswer answer) {
    std::lock_guard lock(mutex_);
    contentAnswer_ = answer;
}

void SimCapture::setDisplaysVisibleFromQuery(int32_t n) {
    std::lock_guard lock(mutex_);
    visibleFromQuery_ = n;
}

void SimCapture::setCreateAnswer(SimAnswer answer) {
    std::lock_guard lock(mutex_);
    createAnswer_ = answer;
}

void SimCapture::setStartAnswer(SimAnswer answer) {
    std::lock_guard lock(mutex_);
    startAnswer_ = answer;
}

void SimCapture::setIntervalAnswer(SimAnswer answer) {
    std::lock_guard lock(mutex_);
    intervalAnswer_ = answer;
}

void SimCapture::setStopAnswer(SimAnswer answer) {
    std::lock_guard lock(mutex_);
    stopAnswer_ = answer;
}

void SimCapture::releaseHung() {
    std::deque<std::function<void()>> hung;
    {
        std::lock_guard lock(mutex_);
        hung.swap(hung_);
    }
    for (auto& completion : hung)
        completion();
}

int32_t SimCapture::contentQueries() const {
    std::lock_guard lock(mutex_);
    return queries_;
}

std::vector<std::shared_ptr<SimStreamState>> SimCapture::streams() const {
    std::lock_guard lock(mutex_);
    return streams_;
}

std::vector<std::chrono::nanoseconds> SimCapture::intervalRequests() const {
    std::lock_guard lock(mutex_);
    return intervals_;
}

void SimCapture::recordInterval(std::chrono::nanoseconds interval) {
    std::lock_guard lock(mutex_);
    intervals_.push_back(interval);
}

SimAnswer SimCapture::startAnswerNow() {
    std::lock_guard lock(mutex_);
    return startAnswer_;
}

SimAnswer SimCapture::intervalAnswerNow() {
    std::lock_guard lock(mutex_);
    return intervalAnswer_;
}

SimAnswer SimCapture::stopAnswerNow() {
    std::lock_guard lock(mutex_);
    return stopAnswer_;
}

void SimCapture::keepHung(std::function<void()> completion) {
    std::lock_guard lock(mutex_);
    hung_.push_back(std::move(completion));
}

} // namespace corvane::platform::sim
