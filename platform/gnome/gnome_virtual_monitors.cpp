#include "gnome_virtual_monitors.h"

#include <condition_variable>
#include <future>
#include <set>
#include <thread>

namespace corvane::platform::gnome {

namespace {

using namespace std::chrono_literals;

// mutter makes the monitor after the format is agreed and puts it into its
// layout a moment later: read the layout until a new monitor of the size is
// in it.
constexpr int kLayoutReads = 60;
constexpr auto kLayoutReadPause = 50ms;
// A stream's Stop answered later than this keeps the monitor.
constexpr auto kStopLimit = 2s;

std::set<std::string> monitorsNow() {
    std::set<std::string> identities;
    if (auto layout = gnomeMonitorLayout())
        for (const auto& m : *layout)
            identities.insert(m.identity());
    return identities;
}

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
    std::set<std::string> before; // the monitors there when it was asked for
    std::string kept;             // a kept monitor given a new size
    std::shared_ptr<GnomeFrameSource> source;
    bool negotiated = false;

    // Takes the completion, once.
    VirtualDisplayDone take() {
        std::lock_guard lock(mutex);
        return std::move(done);
    }
};

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
    std::vector<GnomeVirtualMonitor> spares;
    {
        std::lock_guard lock(mutex_);
        gone.swap(monitors_);
        spares.swap(spares_);
    }
    for (auto& [id, m] : gone)
        m.source->stop();
    for (auto& m : spares)
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
    pending->before = monitorsNow();
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
        if (reuseSpare(pending))
            return;
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
                            d(nullptr, reason);
                        }
                };
                listener.overdue = [this, path](int attempt, int32_t w, int32_t h) {
                    session_.pointerOver(path, w, h, attempt);
                };
                listener.settled = [this, path](int32_t x, int32_t y, int32_t w) {
                    session_.pointerWiggle(path, x, y, w);
                };
                source->addListener(listener);
                {
                    std::lock_guard lock(pending->mutex);
                    pending->path = path;
                    pending->node = node;
                    pending->source = source;
                }
                std::string error;
                if (!source->start(node, error, GnomeVideoSize{pending->width, pending->height}))
                    fail(error);
            });
        if (!asked)
            fail("the GNOME session is not running");
    });
}

// Gives the monitor that appeared for this stream an id and a place in the
// list, in one step: two creations of one size cannot both take it. It is a
// monitor that was not there before and is nobody else's (a freed connector
// name comes back with a new serial), or the kept one at its new size.
std::optional<uint32_t> GnomeVirtualMonitors::claim(const Pending& pending) {
    const auto layout = gnomeMonitorLayout();
    if (!layout)
        return std::nullopt;
    std::lock_guard lock(mutex_);
    std::optional<GnomeLayoutMonitor> monitor;
    if (pending.kept.empty()) {
        std::set<std::string> taken = pending.before;
        for (const auto& [id, known] : monitors_)
            taken.insert(known.identity);
        for (const auto& spare : spares_)
            taken.insert(spare.identity);
        monitor = gnomeNewMonitor(*layout, pending.width, pending.height, taken);
    } else {
        for (const GnomeLayoutMonitor& m : *layout)
            if (m.identity() == pending.kept && m.width == pending.width &&
                m.height == pending.height)
                monitor = m;
    }
    if (!monitor)
        return std::nullopt;
    const uint32_t id = nextId_.fetch_add(1);
    GnomeStreamInfo stream{pending.path,    pending.node,   monitor->x,
                           monitor->y,      monitor->width, monitor->height};
    monitors_[id] = GnomeVirtualMonitor{id, monitor->identity(), stream, pending.source};
    return id;
}

void GnomeVirtualMonitors::finishCreate(const std::shared_ptr<Pending>& pending) {
    std::optional<uint32_t> id;
    for (int i = 0; i < kLayoutReads && !id && session_.running(); ++i) {
        id = claim(*pending);
        if (!id)
            std::this_thread::sleep_for(kLayoutReadPause);
    }
    session_.removeEndListener(pending->endListener);
    VirtualDisplayDone done = pending->take();
    if (!done || !id || !session_.running()) {
        // Given up already (session ended, stream failed) or never made.
        // A monitor mutter made anyway stays until the session ends (43 has
        // no way to take one away).
        if (id) {
            std::lock_guard lock(mutex_);
            monitors_.erase(*id);
        }
        pending->source->stop();
        if (done)
            done(nullptr, "mutter did not make a " + std::to_string(pending->width) + "x" +
                              std::to_string(pending->height) + " virtual monitor");
        return;
    }
    done(std::make_unique<GnomeVirtualDisplay>(*this, *id), {});
}

// mutter 48 takes a virtual monitor away when its stream stops, and so the
// desktop loses what the client's connection added. mutter 43 cannot (its
// streams have no Stop and the monitor outlives its consumer): the monitor is
// kept, unlisted, for the next display asked for, which gets it at its own
// size.
void GnomeVirtualMonitors::remove(uint32_t id) {
    std::optional<GnomeVirtualMonitor> given;
    {
        std::lock_guard lock(mutex_);
        auto it = monitors_.find(id);
        if (it == monitors_.end())
            return;
        given = std::move(it->second);
        monitors_.erase(it);
    }
    if (given->source->running() && !stopStream(given->stream.streamPath)) {
        std::lock_guard lock(mutex_);
        spares_.push_back(std::move(*given));
        return;
    }
    given->source->stop();
}

// Whether mutter stopped the stream (bounded: an unanswered call keeps the
// monitor, as mutter 43's answer would).
bool GnomeVirtualMonitors::stopStream(const std::string& path) {
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> stopped = answer->get_future();
    session_.stopVirtual(path, [answer](bool ok) { answer->set_value(ok); });
    return stopped.wait_for(kStopLimit) == std::future_status::ready && stopped.get();
}

// Gives a kept monitor the size asked for, by offering its consumer only that
// size: mutter changes the monitor's mode. False when no spare is running.
bool GnomeVirtualMonitors::reuseSpare(const std::shared_ptr<Pending>& pending) {
    std::optional<GnomeVirtualMonitor> spare;
    {
        std::lock_guard lock(mutex_);
        while (!spares_.empty() && !spare) {
            GnomeVirtualMonitor next = std::move(spares_.back());
            spares_.pop_back();
            if (next.source->running())
                spare = std::move(next);
        }
    }
    if (!spare || !spare->source->resize({pending->width, pending->height}))
        return false;
    {
        std::lock_guard lock(pending->mutex);
        pending->path = spare->stream.streamPath;
        pending->node = spare->stream.nodeId;
        pending->kept = spare->identity;
        pending->source = spare->source;
    }
    std::thread([this, pending] { finishCreate(pending); }).detach();
    return true;
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
    const auto layout = gnomeMonitorLayout();
    if (!layout)
        return known->stream; // mutter did not answer: the last place known
    for (const GnomeLayoutMonitor& m : *layout) {
        if (m.identity() != known->identity)
            continue;
        std::lock_guard lock(mutex_);
        auto it = monitors_.find(id);
        if (it == monitors_.end())
            return std::nullopt;
        auto& s = it->second.stream;
        s.x = m.x;
        s.y = m.y;
        s.width = m.width;
        s.height = m.height;
        return s;
    }
    return std::nullopt; // no longer in mutter's layout
}

} // namespace corvane::platform::gnome
