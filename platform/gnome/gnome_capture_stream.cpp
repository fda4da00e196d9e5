#include "gnome_capture_stream.h"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "../linux/frame_pool.h"
#include "gnome_capture.h"

namespace corvane::platform::gnome {

using linuxos::CursorPicture;
using linuxos::FramePool;

namespace {
using Clock = std::chrono::steady_clock;

void addRect(pixman_region32_t& region, const Rect& r) {
    if (r.width > 0 && r.height > 0)
        pixman_region32_union_rect(&region, &region, r.x, r.y, unsigned(r.width),
                                   unsigned(r.height));
}

CursorPicture cursorPicture(const GnomeCursorState& c) {
    CursorPicture p;
    if (!c.visible || c.bgra.empty())
        return p;
    p.width = c.width;
    p.height = c.height;
    p.x = c.x - c.hotX;
    p.y = c.y - c.hotY;
    p.argb.resize(size_t(c.width) * c.height);
    // B, G, R, A bytes are one little-endian ARGB word.
    std::memcpy(p.argb.data(), c.bgra.data(), p.argb.size() * 4);
    return p;
}
} // namespace

struct GnomeCaptureStream::Core {
    GnomeCapture* capture = nullptr;
    GnomeSession* session = nullptr;
    uint32_t displayId = 0;
    CaptureSettings settings;
    std::atomic<int64_t> intervalNs{0};

    // Guards the sink; taken before `mutex`, never while holding it, so that
    // a frame released inside the sink (which wakes the thread under
    // `mutex`) cannot wait on its own thread.
    std::mutex sinkMutex;
    CaptureSink* sink = nullptr;

    std::mutex mutex; // guards everything below
    std::condition_variable wake;
    bool started = false;
    bool stopWanted = false;
    bool finished = false;
    std::string endReason;
    std::vector<Rect> pending; // mirror pixels changed since the last frame
    bool cursorMoved = false;
    std::function<void()> stopDone;
    std::shared_ptr<GnomeFrameSource> source;
    uint64_t listenerId = 0;
    uint64_t sessionListenerId = 0;

    void notify() {
        std::lock_guard lock(mutex);
        wake.notify_all();
    }
};

namespace {

struct Producer {
    std::shared_ptr<GnomeCaptureStream::Core> core;
    std::unique_ptr<FramePool> pool;
    int32_t poolWidth = 0, poolHeight = 0;
    bool firstFrame = true;
    CursorPicture cursor;

    FrameHandle produce(const std::vector<Rect>& changed, bool cursorMoved) {
        FrameHandle frame;
        const auto& settings = core->settings;
        core->source->withPicture([&](const uint8_t* pixels, intptr_t stride, int32_t w,
                                      int32_t h) {
            if (!pool || w != poolWidth || h != poolHeight) {
                auto weak = std::weak_ptr(core);
                pool = std::make_unique<FramePool>(w, h, settings, [weak] {
                    if (auto c = weak.lock())
                        c->notify();
                });
                poolWidth = w;
                poolHeight = h;
                firstFrame = true;
            }
            pixman_region32_t dirty;
            pixman_region32_init(&dirty);
            for (const Rect& r : changed)
                addRect(dirty, pool->frameArea(r));
            if (firstFrame)
                addRect(dirty, {0, 0, settings.width, settings.height});
            pool->invalidate(dirty);
            if (settings.showCursor && (cursorMoved || firstFrame)) {
                addRect(dirty, pool->cursorArea(&cursor));
                cursor = cursorPicture(core->source->cursor());
                addRect(dirty, pool->cursorArea(&cursor));
            }
            if (pixman_region32_not_empty(&dirty))
                frame = pool->fill(pixels, stride, settings.showCursor ? &cursor : nullptr, dirty);
            pixman_region32_fini(&dirty);
        });
        if (frame)
            firstFrame = false;
        return frame;
    }
};

// Waits for work: changes (or the first frame) with a free buffer, once the
// interval since the last frame has passed; a stop or an end.
void runStream(std::shared_ptr<GnomeCaptureStream::Core> core) {
    Producer producer;
    producer.core = core;
    Clock::time_point lastFrame = Clock::now() - std::chrono::hours(1);
    std::string ended;
    std::unique_lock lock(core->mutex);
    for (;;) {
        if (core->stopWanted)
            break;
        if (!core->endReason.empty()) {
            ended = core->endReason;
            break;
        }
        const bool work = producer.firstFrame || !core->pending.empty() ||
                          (core->cursorMoved && core->settings.showCursor);
        const bool free = !producer.pool || producer.pool->hasFreeBuffer();
        if (!work || !free) {
            core->wake.wait(lock);
            continue;
        }
        const auto due = lastFrame + std::chrono::nanoseconds(core->intervalNs.load());
        if (Clock::now() < due) {
            core->wake.wait_until(lock, due);
            continue;
        }
        std::vector<Rect> changed = std::move(core->pending);
        core->pending.clear();
        const bool moved = core->cursorMoved;
        core->cursorMoved = false;
        lock.unlock();
        FrameHandle frame = producer.produce(changed, moved);
        lock.lock();
        if (frame) {
            lastFrame = Clock::now();
            lock.unlock();
            {
                std::lock_guard sinkLock(core->sinkMutex);
                if (core->sink)
                    core->sink->frameArrived(std::move(frame));
            }
            frame.reset();
            lock.lock();
        } else if (producer.firstFrame) {
            // No picture yet: wait for the consumer's first (it may have
            // come while this thread looked).
            core->wake.wait(lock, [&] {
                return !core->pending.empty() || core->stopWanted || !core->endReason.empty();
            });
        }
    }
    if (core->source)
        core->source->removeListener(core->listenerId);
    core->session->removeEndListener(core->sessionListenerId);
    const bool report = !ended.empty() && !core->stopWanted;
    lock.unlock();
    if (report) {
        std::lock_guard sinkLock(core->sinkMutex);
        if (core->sink)
            core->sink->streamStopped(ended);
    }
    lock.lock();
    core->finished = true;
    auto done = std::move(core->stopDone);
    lock.unlock();
    core->wake.notify_all();
    if (done)
        done();
}

} // namespace

GnomeCaptureStream::GnomeCaptureStream(GnomeCapture& capture, GnomeSession& session,
                                       uint32_t displayId, const CaptureSettings& settings,
                                       CaptureSink& sink)
    : core_(std::make_shared<Core>()) {
    core_->displayId = displayId;
    core_->capture = &capture;
    core_->session = &session;
    core_->settings = settings;
    core_->sink = &sink;
    core_->intervalNs.store(settings.minFrameInterval.count());
}

GnomeCaptureStream::~GnomeCaptureStream() {
    {
        std::lock_guard sinkLock(core_->sinkMutex);
        core_->sink = nullptr;
    }
    std::unique_lock lock(core_->mutex);
    if (!core_->started)
        return;
    core_->stopWanted = true;
    core_->wake.notify_all();
    core_->wake.wait_for(lock, std::chrono::seconds(5), [&] { return core_->finished; });
}

void GnomeCaptureStream::start(CaptureCompletion done) {
    {
        std::lock_guard lock(core_->mutex);
        if (core_->started) {
            done(false, "the stream was started already");
            return;
        }
        core_->started = true;
    }
    auto core = core_;
    // The session's answer comes on its bus thread; the stream's own thread
    // starts from there.
    core->session->open([core, done = std::move(done)](bool ok, const std::string& error) {
        std::string why = error;
        std::shared_ptr<GnomeFrameSource> source;
        bool stopped = false;
        {
            std::lock_guard lock(core->mutex);
            stopped = core->stopWanted;
        }
        if (ok && !stopped)
            source = core->capture->source(core->displayId, why);
        if (!source) {
            std::function<void()> stopDone;
            {
                std::lock_guard lock(core->mutex);
                core->finished = true;
                stopDone = std::move(core->stopDone);
            }
            core->wake.notify_all();
            done(false, stopped       ? "the stream was stopped while starting"
                        : why.empty() ? "the GNOME session could not be opened"
                                      : why);
            if (stopDone)
                stopDone();
            return;
        }
        std::weak_ptr<Core> weak = core;
        GnomeFrameListener listener;
        listener.changed = [weak](const std::vector<Rect>& changed) {
            if (auto c = weak.lock()) {
                std::lock_guard lock(c->mutex);
                c->pending.insert(c->pending.end(), changed.begin(), changed.end());
                c->wake.notify_all();
            }
        };
        listener.cursorChanged = [weak] {
            if (auto c = weak.lock()) {
                std::lock_guard lock(c->mutex);
                c->cursorMoved = true;
                c->wake.notify_all();
            }
        };
        auto ended = [weak](const std::string& reason) {
            if (auto c = weak.lock()) {
                std::lock_guard lock(c->mutex);
                if (c->endReason.empty())
                    c->endReason = reason;
                c->wake.notify_all();
            }
        };
        listener.stopped = ended;
        {
            std::lock_guard lock(core->mutex);
            core->source = source;
            core->listenerId = source->addListener(listener);
            core->sessionListenerId = core->session->addEndListener(ended);
            if (!source->running() && core->endReason.empty())
                core->endReason = "the PipeWire stream is not running";
        }
        std::thread(runStream, core).detach();
        done(true, {});
    });
}

void GnomeCaptureStream::setMinFrameInterval(std::chrono::nanoseconds interval,
                                             CaptureCompletion done) {
    if (interval.count() <= 0) {
        done(false, "the frame interval must be positive");
        return;
    }
    core_->intervalNs.store(interval.count());
    core_->wake.notify_all();
    done(true, {});
}

void GnomeCaptureStream::stop(std::function<void()> done) {
    {
        std::lock_guard lock(core_->mutex);
        core_->stopWanted = true;
        if (core_->started && !core_->finished) {
            core_->stopDone = std::move(done);
            core_->wake.notify_all();
            return;
        }
    }
    done();
}

} // namespace corvane::platform::gnome
