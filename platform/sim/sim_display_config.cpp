#include "sim_display_config.h"

#include <algorithm>

#include "sim_platform.h"

namespace corvane::platform::sim {

class SimVirtualDisplay : public VirtualDisplay {
  public:
    SimVirtualDisplay(SimDisplayConfig& owner, uint32_t id)
        : owner_(owner), alive_(owner.alive_), id_(id) {}
    // A display outliving its backend (a test swapped the platform) has
    // nothing left to remove.
    ~SimVirtualDisplay() override {
        if (!alive_.expired())
            owner_.remove(id_);
    }
    uint32_t id() const override { return id_; }

  private:
    SimDisplayConfig& owner_;
    std::weak_ptr<int> alive_;
    uint32_t id_;
};

class SimTransaction : public DisplayTransaction {
  public:
    explicit SimTransaction(SimDisplayConfig& owner) : owner_(owner), alive_(owner.alive_) {}
    int32_t mirror(uint32_t display, uint32_t master) override {
        if (done_)
            return kSimConfigError;
        mirrors_.emplace_back(display, master);
        return 0;
    }
    int32_t place(uint32_t display, int32_t x, int32_t y) override {
        if (done_)
            return kSimConfigError;
        places_.push_back({display, {x, y}});
        return 0;
    }
    // A held completion keeps what the transaction asked for: it may run
    // after the transaction object is gone.
    void complete(DisplayTransactionDone done) override {
        if (done_) {
            done(kSimConfigError);
            return;
        }
        done_ = true;
        SimDisplayConfig* owner = &owner_;
        owner_.answer(
            [owner, alive = alive_, mirrors = mirrors_, places = places_, done = std::move(done)] {
                done(alive.expired() ? kSimConfigError : owner->apply(mirrors, places));
            });
    }
    void cancel() override { done_ = true; }

  private:
    SimDisplayConfig& owner_;
    std::weak_ptr<int> alive_;
    bool done_ = false;
    std::vector<std::pair<uint32_t, uint32_t>> mirrors_;
    std::vector<std::pair<uint32_t, std::pair<int32_t, int32_t>>> places_;
};

SimDisplayConfig::SimDisplayConfig(SimDisplays& displays, SimPower& power, SimCapture& capture)
    : displays_(displays), power_(power), capture_(capture) {}

bool SimDisplayConfig::virtualDisplaysSupported() {
    std::lock_guard lock(mutex_);
    return supported_;
}

void SimDisplayConfig::answer(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (holding_) {
            held_.push_back(std::move(work));
            return;
        }
    }
    work();
}

void SimDisplayConfig::holdCompletions(bool hold) {
    std::lock_guard lock(mutex_);
    holding_ = hold;
}

void SimDisplayConfig::releaseHeld() {
    std::vector<std::function<void()>> held;
    {
        std::lock_guard lock(mutex_);
        held.swap(held_);
    }
    for (auto& work : held)
        work();
}

int32_t SimDisplayConfig::heldCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int32_t>(held_.size());
}

void SimDisplayConfig::createVirtualDisplay(const VirtualDisplayDescriptor& d,
                                            VirtualDisplayDone done) {
    answer([this, alive = std::weak_ptr<int>(alive_), d, done = std::move(done)] {
        auto display = alive.expired() ? nullptr : createVirtualDisplay(d);
        const bool made = display != nullptr;
        done(std::move(display), made ? std::string() : "the sim refused the display");
    });
}

std::unique_ptr<VirtualDisplay>
SimDisplayConfig::createVirtualDisplay(const VirtualDisplayDescriptor& d) {
    std::unique_lock lock(mutex_);
    descriptors_.push_back(d);
    ++createCalls_;
    if (!supported_ || (failFrom_ > 0 && createCalls_ >= failFrom_) || d.modePointsWide == 0 ||
        d.modePointsHigh == 0)
        return nullptr;
    Entry e;
    const int32_t scale = d.hiDPI && !refuse2x_ ? 2 : 1;
    e.mode.pixelWidth = static_cast<int32_t>(d.modePointsWide) * scale;
    e.mode.pixelHeight = static_cast<int32_t>(d.modePointsHigh) * scale;
    if (nextWidth_ > 0 && nextHeight_ > 0) {
        e.mode.pixelWidth = nextWidth_;
        e.mode.pixelHeight = nextHeight_;
        nextWidth_ = nextHeight_ = 0;
    }
    e.mode.pointsWidth = static_cast<double>(e.mode.pixelWidth) / scale;
    e.mode.pointsHeight = static_cast<double>(e.mode.pixelHeight) / scale;
    // One scale for the whole screen: the display space counts pixels.
    const double spaceScale = scope_ == HiDpiScope::wholeScreen ? 1 : scale;
    // A new display is attached to the right of everything there is.
    MainDisplayInfo main;
    displays_.mainDisplay(main);
    double right = main.pointsWidth;
    for (const auto& [id, other] : virtual_)
        right = std::max(right, other.own.x + other.own.width);
    e.own = {right, 0, e.mode.pixelWidth / spaceScale, e.mode.pixelHeight / spaceScale};
    const uint32_t id = nextId_++;
    virtual_[id] = e;
    order_.push_back(id);
    publishToCapture();
    lock.unlock();
    return std::make_unique<SimVirtualDisplay>(*this, id);
}

void SimDisplayConfig::remove(uint32_t id) {
    std::lock_guard lock(mutex_);
    virtual_.erase(id);
    order_.erase(std::remove(order_.begin(), order_.end(), id), order_.end());
    if (mainMirrorOf_ == id)
        mainMirrorOf_ = 0;
    for (auto& [other, e] : virtual_)
        if (e.mirrorOf == id)
            e.mirrorOf = 0;
    publishToCapture();
}

std::vector<uint32_t> SimDisplayConfig::activeDisplays(size_t max) {
    std::lock_guard lock(mutex_);
    std::vector<uint32_t> ids{kSimMainDisplayId};
    for (uint32_t id : order_)
        ids.push_back(id);
    if (ids.size() > max)
        ids.resize(max);
    return ids;
}

std::vector<uint32_t> SimDisplayConfig::onlineDisplays(size_t max) {
    return activeDisplays(max);
}

bool SimDisplayConfig::boundsLocked(uint32_t display, DisplayBounds& out) {
    uint32_t master = 0;
    if (display == kSimMainDisplayId) {
        master = mainMirrorOf_;
        if (!master) {
            MainDisplayInfo main;
            if (!displays_.mainDisplay(main))
                return false;
            out = {0, 0, static_cast<double>(main.pointsWidth),
                   static_cast<double>(main.pointsHeight)};
            return true;
        }
    } else {
        auto it = virtual_.find(display);
        if (it == virtual_.end())
            return false;
        master = it->second.mirrorOf;
        if (!master) {
            out = it->second.own;
            return true;
        }
    }
    // A mirror set shares its master's bounds.
    auto it = virtual_.find(master);
    if (it == virtual_.end())
        return false;
    out = it->second.own;
    return true;
}

bool SimDisplayConfig::bounds(uint32_t display, DisplayBounds& out) {
    std::lock_guard lock(mutex_);
    return boundsLocked(display, out);
}

bool SimDisplayConfig::currentMode(uint32_t display, DisplayModeInfo& out) {
    std::lock_guard lock(mutex_);
    if (display == kSimMainDisplayId) {
        MainDisplayInfo main;
        if (!displays_.mainDisplay(main))
            return false;
        out = {main.pixelWidth, main.pixelHeight, static_cast<double>(main.pointsWidth),
               static_cast<double>(main.pointsHeight)};
        return true;
    }
    auto it = virtual_.find(display);
    if (it == virtual_.end())
        return false;
    out = it->second.mode;
    return true;
}

uint32_t SimDisplayConfig::mirrorsDisplay(uint32_t display) {
    std::lock_guard lock(mutex_);
    if (display == kSimMainDisplayId)
        return mainMirrorOf_;
    auto it = virtual_.find(display);
    return it == virtual_.end() ? 0 : it->second.mirrorOf;
}

bool SimDisplayConfig::asleep(uint32_t display) {
    (void)display;
    return power_.displayAsleep();
}

std::unique_ptr<DisplayTransaction> SimDisplayConfig::begin(int32_t& error) {
    std::lock_guard lock(mutex_);
    if (beginFailures_ > 0) {
        --beginFailures_;
        error = kSimConfigError;
        return nullptr;
    }
    error = 0;
    return std::make_unique<SimTransaction>(*this);
}

int32_t SimDisplayConfig::apply(
    const std::vector<std::pair<uint32_t, uint32_t>>& mirrors,
    const std::vector<std::pair<uint32_t, std::pair<int32_t, int32_t>>>& places) {
    std::lock_guard lock(mutex_);
    if (completeFailures_ > 0) {
        --completeFailures_;
        return kSimConfigError;
    }
    ++completions_;
    // All or nothing: the change is made, checked, and taken back if refused.
    const auto oldVirtual = virtual_;
    const uint32_t oldMainMirror = mainMirrorOf_;
    const auto refuse = [&] {
        virtual_ = oldVirtual;
        mainMirrorOf_ = oldMainMirror;
        return kSimConfigError;
    };
    bool mirrored = false;
    for (const auto& [display, master] : mirrors) {
        if (master && master != kSimMainDisplayId && !virtual_.count(master))
            return refuse();
        if (display == kSimMainDisplayId)
            mainMirrorOf_ = master;
        else if (auto it = virtual_.find(display); it != virtual_.end())
            it->second.mirrorOf = master;
        mirrored |= master != 0;
    }
    if (ignoredPlacements_ > 0) {
        --ignoredPlacements_;
    } else {
        for (const auto& [display, at] : places)
            if (auto it = virtual_.find(display); it != virtual_.end()) {
                it->second.own.x = at.first;
                it->second.own.y = at.second;
                it->second.placed = true;
            }
    }
    if (!withinSpaceLocked())
        return refuse();
    if (mirrored && drops_ > 0) {
        --drops_;
        mainMirrorOf_ = 0;
        for (auto& [id, e] : virtual_)
            e.mirrorOf = 0;
    }
    publishToCapture();
    return 0;
}

bool SimDisplayConfig::withinSpaceLocked() {
    if (maxSpace_.width <= 0 || maxSpace_.height <= 0)
        return true;
    double right = 0, bottom = 0;
    const auto take = [&](const DisplayBounds& b) {
        right = std::max(right, b.x + b.width);
        bottom = std::max(bottom, b.y + b.height);
    };
    DisplayBounds b;
    if (boundsLocked(kSimMainDisplayId, b))
        take(b);
    // A mirror set takes its master's place.
    for (const auto& [id, e] : virtual_)
        if (!e.mirrorOf)
            take(e.own);
    return right <= maxSpace_.width && bottom <= maxSpace_.height;
}

void SimDisplayConfig::publishToCapture() {
    std::vector<CaptureDisplay> list;
    for (uint32_t id : order_) {
        DisplayBounds b;
        if (onlyPlaced_ && !virtual_[id].placed)
            continue;
        if (boundsLocked(id, b))
            list.push_back({id, b.x, b.y, b.width, b.height});
    }
    capture_.setExtraDisplays(std::move(list));
}

void SimDisplayConfig::setScreenChangeHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

DisplaySpace SimDisplayConfig::maxSpace() {
    std::lock_guard lock(mutex_);
    return maxSpace_;
}
void SimDisplayConfig::setMaxSpace(double width, double height) {
    std::lock_guard lock(mutex_);
    maxSpace_ = {width, height};
}
HiDpiScope SimDisplayConfig::hiDpiScope() {
    std::lock_guard lock(mutex_);
    return scope_;
}
void SimDisplayConfig::setHiDpiScope(HiDpiScope scope) {
    std::lock_guard lock(mutex_);
    scope_ = scope;
}
bool SimDisplayConfig::placesVirtualDisplaysItself() {
    std::lock_guard lock(mutex_);
    return placesItself_;
}
void SimDisplayConfig::setPlacesItself(bool itself) {
    std::lock_guard lock(mutex_);
    placesItself_ = itself;
}
void SimDisplayConfig::showOnlyPlaced(bool only) {
    std::lock_guard lock(mutex_);
    onlyPlaced_ = only;
    publishToCapture();
}

void SimDisplayConfig::setSupported(bool supported) {
    std::lock_guard lock(mutex_);
    supported_ = supported;
}
void SimDisplayConfig::failCreationsFrom(int32_t nth) {
    std::lock_guard lock(mutex_);
    failFrom_ = nth > 0 ? createCalls_ + nth : 0;
}
void SimDisplayConfig::setRefuse2x(bool refuse) {
    std::lock_guard lock(mutex_);
    refuse2x_ = refuse;
}
void SimDisplayConfig::setNextPixelSize(int32_t width, int32_t height) {
    std::lock_guard lock(mutex_);
    nextWidth_ = width;
    nextHeight_ = height;
}
void SimDisplayConfig::dropMirroring(int32_t times) {
    std::lock_guard lock(mutex_);
    drops_ = times;
}
void SimDisplayConfig::failBegins(int32_t count) {
    std::lock_guard lock(mutex_);
    beginFailures_ = count;
}
void SimDisplayConfig::failCompletes(int32_t count) {
    std::lock_guard lock(mutex_);
    completeFailures_ = count;
}
void SimDisplayConfig::ignorePlacements(int32_t completions) {
    std::lock_guard lock(mutex_);
    ignoredPlacements_ = completions;
}

void SimDisplayConfig::changeMainFromOutside(int32_t pixelWidth, int32_t pixelHeight,
                                             double scale) {
    displays_.setMain(pixelWidth, pixelHeight, scale);
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
    }
    if (handler)
        handler();
}

std::vector<VirtualDisplayDescriptor> SimDisplayConfig::descriptors() {
    std::lock_guard lock(mutex_);
    return descriptors_;
}
std::vector<uint32_t> SimDisplayConfig::virtualDisplays() {
    std::lock_guard lock(mutex_);
    return order_;
}
int32_t SimDisplayConfig::completions() {
    std::lock_guard lock(mutex_);
    return completions_;
}

} // namespace corvane::platform::sim
