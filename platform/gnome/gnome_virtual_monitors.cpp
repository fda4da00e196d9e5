#include "gnome_virtual_monitors.h"

#include <condition_variable>
#include <thread>

namespace corvane::platform::gnome {

namespace {

using namespace std::chrono_literals;

// mutter makes the monitor after the format is agreed and reports it in the
// stream's Parameters a moment later: read them until they show the size.
constexpr int kPlaceReads = 40;
constexpr auto kPlaceReadPause = 50ms;
constexpr auto kReadLimit = 1000ms;
// A place read for bounds() must not hold the layout up for long.
constexpr auto kQuickReadLimit = 300ms;

class GnomeVirtualDisplay : public VirtualDisplay {
  public:
    GnomeVirtualDisplay(GnomeVirtualMonitors& owner, uint32_t id) : owner_(owner), id_(id) {}
    ~GnomeVirtualDisplay() override { owner_.remove(id_); }
    uint32_t id() const override { return id_; }

  private:
    GnomeVirtualMonitors& owner_;
    uint32_t id_;
};

} // namespace

// One creation in progress; it completes once, whichever comes first: the
// monitor made, a failure, or the session's end.
struct GnomeVirtualMonitors::Pending {
    std::mutex mutex;
    VirtualDisplayDone done;
    uint64_t endListener = 0;
    int32_t width = 0, height = 0;
    std::string path;
    uint32_t node = 0;
    std::shared_ptr<GnomeFrameSource> source;
    bool negotiated = false;

    // Takes the completion, once.
    VirtualDisplayDone take() {
        std::lock_guard lock(mutex);
        return std::move(done);
    }
};

std::optional<GnomeStreamInfo> gnomeReadGeometryWithin(GnomeSession& session,
                                                       const std::string& path,
                                                       std::chrono::milliseconds limit) {
    struct Wait {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::optional<GnomeStreamInfo> info;
    };
    auto wait = std::make_shared<Wait>();
    if (!session.readGeometry(path, [wait](std::optional<GnomeStreamInfo> info) {
            std::lock_guard lock(wait->mutex);
            wait->info = std::move(info);
            wait->done = true;
            wait->cv.notify_all();
        }))
        return std::nullopt;
    std::unique_lock lock(wait->mutex);
    wait->cv.wait_for(lock, limit, [&] { return wait->done; });
    return wait->info;
}

GnomeVirtualMonitors::GnomeVirtualMonitors(GnomeSession& session) : session_(session) {
    // The monitors belong to the session: mutter removes them with it.
    endListener_ = session_.addEndListener([this](const std::string&) { dropAll(); });
}

GnomeVirtualMonitors::~GnomeVirtualMonitors() {
    session_.removeEndListener(endListener_);
    dropAll();
}

void GnomeVirtualMonitors::dropAll() {
    std::map<uint32_t, GnomeVirtualMonitor> gone;
    {
        std::lock_guard lock(mutex_);
        gone.swap(monitors_);
    }
    for (auto& [id, m] : gone)
        m.source->stop();
}

void GnomeVirtualMonitors::create(const VirtualDisplayDescriptor& descriptor,
                                  VirtualDisplayDone done) {
    auto pending = std::make_shared<Pending>();
    pending->done = std::move(done);
    // The pixel size: a 2x mode is not given (mutter 43 has no scale for a
    // virtual monitor), so the monitor shows that many points at 1x.
    pending->width =
        int32_t(descriptor.maxPixelsWide ? descriptor.maxPixelsWide : descriptor.modePointsWide);
    pending->height =
        int32_t(descriptor.maxPixelsHigh ? descriptor.maxPixelsHigh : descriptor.modePointsHigh);
    if (pending->width <= 0 || pending->height <= 0) {
        pending->take()(nullptr, "the virtual monitor has no size");
        return;
    }
    std::weak_ptr<Pending> weak = pending;
    pending->endListener = session_.addEndListener([weak](const std::string& reason) {
        if (auto p = weak.lock())
            if (auto d = p->take())
                d(nullptr, "the GNOME session ended: " + reason);
    });
    auto fail = [this, pending](const std::string& why) {
        session_.removeEndListener(pending->endListener);
        if (auto d = pending->take())
            d(nullptr, why);
    };
    session_.open([this, pending, fail](bool ok, const std::string& error) {
        if (!ok)
            return fail(error.empty() ? "the GNOME session could not be opened" : error);
        const bool asked = session_.recordVirtual(
            [this, pending, fail](const std::string& path, uint32_t node, const std::string& why) {
                if (path.empty())
                    return fail(why);
                auto source = std::make_shared<GnomeFrameSource>();
                GnomeFrameListener listener;
                // The consumer's listener holds the creation weakly: the
                // creation holds the consumer.
                std::weak_ptr<Pending> weak = pending;
                listener.negotiated = [this, weak](int32_t, int32_t) {
                    auto pending = weak.lock();
                    if (!pending)
                        return;
                    {
                        std::lock_guard lock(pending->mutex);
                        if (pending->negotiated)
                            return; // a later renegotiation
                        pending->negotiated = true;
                    }
                    // Off the PipeWire thread: waiting for mutter's place.
                    std::thread([this, pending] { finishCreate(pending); }).detach();
                };
                listener.stopped = [this, weak](const std::string& reason) {
                    if (auto p = weak.lock())
                        if (auto d = p->take()) {
                            session_.removeEndListener(p->endListener);
                            session_.stopStream(p->path);
                            d(nullptr, reason);
                        }
                };
                source->addListener(listener);
                {
                    std::lock_guard lock(pending->mutex);
                    pending->path = path;
                    pending->node = node;
                    pending->source = source;
                }
                std::string error;
                if (!source->start(node, error, GnomeVideoSize{pending->width, pending->height})) {
                    session_.stopStream(path);
                    fail(error);
                }
            });
        if (!asked)
            fail("the GNOME session is not running");
    });
}

void GnomeVirtualMonitors::finishCreate(const std::shared_ptr<Pending>& pending) {
    std::optional<GnomeStreamInfo> place;
    for (int i = 0; i < kPlaceReads; ++i) {
        place = gnomeReadGeometryWithin(session_, pending->path, kReadLimit);
        if (place && place->width == pending->width && place->height == pending->height)
            break;
        place.reset();
        std::this_thread::sleep_for(kPlaceReadPause);
    }
    session_.removeEndListener(pending->endListener);
    VirtualDisplayDone done = pending->take();
    if (!done || !place || !session_.running()) {
        // Given up already (session ended, stream failed) or never made.
        pending->source->stop();
        session_.stopStream(pending->path);
        if (done)
            done(nullptr, "mutter did not make a " + std::to_string(pending->width) + "x" +
                              std::to_string(pending->height) + " virtual monitor");
        return;
    }
    const uint32_t id = nextId_.fetch_add(1);
    {
        std::lock_guard lock(mutex_);
        place->nodeId = pending->node;
        monitors_[id] = GnomeVirtualMonitor{id, *place, pending->source};
    }
    done(std::make_unique<GnomeVirtualDisplay>(*this, id), {});
}

void GnomeVirtualMonitors::remove(uint32_t id) {
    std::optional<GnomeVirtualMonitor> gone;
    {
        std::lock_guard lock(mutex_);
        if (auto it = monitors_.find(id); it != monitors_.end()) {
            gone = std::move(it->second);
            monitors_.erase(it);
        }
    }
    if (!gone)
        return;
    gone->source->stop();
    session_.stopStream(gone->stream.streamPath);
}

std::vector<GnomeVirtualMonitor> GnomeVirtualMonitors::list() const {
    std::lock_guard lock(mutex_);
    std::vector<GnomeVirtualMonitor> all;
    for (const auto& [id, m] : monitors_)
        if (m.source->running())
            all.push_back(m);
    return all;
}

std::optional<GnomeVirtualMonitor> GnomeVirtualMonitors::find(uint32_t id) const {
    std::lock_guard lock(mutex_);
    auto it = monitors_.find(id);
    if (it == monitors_.end() || !it->second.source->running())
        return std::nullopt;
    return it->second;
}

std::optional<GnomeStreamInfo> GnomeVirtualMonitors::place(uint32_t id) {
    const auto known = find(id);
    if (!known)
        return std::nullopt;
    auto now = gnomeReadGeometryWithin(session_, known->stream.streamPath, kQuickReadLimit);
    if (!now)
        return known->stream;
    std::lock_guard lock(mutex_);
    if (auto it = monitors_.find(id); it != monitors_.end())
        it->second.stream = *now;
    return now;
}

} // namespace corvane::platform::gnome
