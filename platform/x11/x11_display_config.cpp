#include "x11_display_config.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>

#include <X11/Xatom.h>

#include <X11/extensions/Xrandr.h>

#include "x11_capture.h"

namespace corvane::platform::x11 {

namespace {

constexpr const char* kMonitorPrefix = "Corvane Display ";
constexpr const char* kGiveBackProperty = "CORVANE_GIVE_BACK";

std::optional<std::string> readGiveBack(Display* d) {
    const Atom name = XInternAtom(d, kGiveBackProperty, True);
    if (name == None)
        return std::nullopt;
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, DefaultRootWindow(d), name, 0, 1 << 16, False, XA_STRING, &type,
                           &format, &items, &after, &data) != Success ||
        type != XA_STRING || format != 8) {
        if (data)
            XFree(data);
        return std::nullopt;
    }
    std::string text(reinterpret_cast<const char*>(data), items);
    XFree(data);
    return text;
}

// A process that still runs (or that we may not signal) keeps what it has.
bool processRuns(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

bool screenSize(Display* d, int32_t& width, int32_t& height) {
    Window root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (!XGetGeometry(d, DefaultRootWindow(d), &root, &x, &y, &w, &h, &border, &depth))
        return false;
    width = static_cast<int32_t>(w);
    height = static_cast<int32_t>(h);
    return true;
}

bool hasMonitorRequests(Display* d) {
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    return XRRQueryExtension(d, &eventBase, &errorBase) && XRRQueryVersion(d, &major, &minor) &&
           (major > 1 || (major == 1 && minor >= 5));
}

// The areas the active CRTCs show; the screen never shrinks below them.
std::vector<std::pair<int32_t, int32_t>> crtcExtents(Display* d) {
    std::vector<std::pair<int32_t, int32_t>> extents;
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(d, DefaultRootWindow(d));
    for (int i = 0; res && i < res->ncrtc; ++i) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(d, res, res->crtcs[i]);
        if (crtc && crtc->mode != None)
            extents.emplace_back(crtc->x + static_cast<int32_t>(crtc->width),
                                 crtc->y + static_cast<int32_t>(crtc->height));
        if (crtc)
            XRRFreeCrtcInfo(crtc);
    }
    if (res)
        XRRFreeScreenResources(res);
    return extents;
}

class X11VirtualDisplay : public VirtualDisplay {
  public:
    X11VirtualDisplay(X11DisplayConfig& owner, std::weak_ptr<int> alive, uint32_t id)
        : owner_(owner), alive_(std::move(alive)), id_(id) {}
    ~X11VirtualDisplay() override {
        if (!alive_.expired())
            owner_.remove(id_);
    }
    uint32_t id() const override { return id_; }

  private:
    X11DisplayConfig& owner_;
    std::weak_ptr<int> alive_;
    uint32_t id_;
};

class X11Transaction : public DisplayTransaction {
  public:
    explicit X11Transaction(X11DisplayConfig& owner) : owner_(owner) {}
    int32_t mirror(uint32_t display, uint32_t master) override {
        if (done_)
            return kX11ConfigError;
        mirrors_.emplace_back(display, master);
        return 0;
    }
    int32_t place(uint32_t display, int32_t x, int32_t y) override {
        if (done_)
            return kX11ConfigError;
        places_.push_back({display, {x, y}});
        return 0;
    }
    // RandR applies a configuration before the call returns.
    void complete(DisplayTransactionDone done) override {
        if (done_) {
            done(kX11ConfigError);
            return;
        }
        done_ = true;
        done(owner_.apply(mirrors_, places_));
    }
    void cancel() override { done_ = true; }

  private:
    X11DisplayConfig& owner_;
    bool done_ = false;
    std::vector<std::pair<uint32_t, uint32_t>> mirrors_;
    std::vector<std::pair<uint32_t, std::pair<int32_t, int32_t>>> places_;
};

} // namespace

uint32_t virtualIdOfMonitor(const char* name) {
    if (!name || std::strncmp(name, kMonitorPrefix, std::strlen(kMonitorPrefix)) != 0)
        return 0;
    const char* open = std::strrchr(name, '[');
    unsigned long id = 0;
    if (!open || std::sscanf(open, "[%lu]", &id) != 1 || id < kX11FirstVirtualId ||
        id >= kX11MainDisplayId)
        return 0;
    return static_cast<uint32_t>(id);
}

X11DisplayConfig::X11DisplayConfig(Power& power, Connection::ClockFn clock)
    : power_(power), conn_(std::move(clock)) {}

X11DisplayConfig::~X11DisplayConfig() {
    if (watcher_.joinable()) {
        quit_.store(true);
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
        watcher_.join();
    }
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

// Much of what is asked is answered from what we keep, without a request
// that would find a server gone: reading what the server sent finds the end
// of the connection, so that a restarted server is connected to (and taken
// as the baseline) once a retry is due.
Display* X11DisplayConfig::displayLocked() {
    Display* d = conn_.get();
    if (d) {
        XPending(d);
        if (conn_.lost())
            d = conn_.get();
    }
    return d;
}

bool X11DisplayConfig::baselineLocked(Display* d) {
    if (baselineGeneration_ != conn_.generation()) {
        // Another connection: the X server went away, and this one (perhaps
        // of another size) took its place. What we declared went with the
        // old one, and no event will come for sizes we set there.
        const bool reconnected = baselineGeneration_ != 0;
        const bool hadBaseline = haveBaseline_;
        const std::pair<int32_t, int32_t> before{startWidth_, startHeight_};
        baselineGeneration_ = conn_.generation();
        haveBaseline_ = false;
        declared_.clear();
        ownSizes_.clear();
        if (reconnected) {
            // The watcher opens its own connection to the new server once
            // we let go of the lock, and reports a size that changed.
            if (baselineLocked(d) && hadBaseline &&
                before != std::pair<int32_t, int32_t>{startWidth_, startHeight_})
                reportPending_.store(true);
            if (wakeFd_ >= 0) {
                const uint64_t one = 1;
                [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
            }
        }
    }
    if (haveBaseline_)
        return true;
    giveBackLeftoverLocked(d);
    if (!screenSize(d, startWidth_, startHeight_))
        return false;
    const int screen = DefaultScreen(d);
    startMmWidth_ = DisplayWidthMM(d, screen);
    startMmHeight_ = DisplayHeightMM(d, screen);
    haveBaseline_ = true;
    return true;
}

void X11DisplayConfig::giveBackLeftoverLocked(Display* d) {
    const auto text = readGiveBack(d);
    if (!text)
        return;
    std::istringstream in(*text);
    long owner = 0;
    int width = 0, height = 0, mmWidth = 0, mmHeight = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "owner")
            words >> owner;
        else if (kind == "screen")
            words >> width >> height >> mmWidth >> mmHeight;
    }
    if (owner == static_cast<long>(::getpid()) || processRuns(owner))
        return;
    const Window root = DefaultRootWindow(d);
    if (hasMonitorRequests(d)) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(d, root, False, &count);
        for (int i = 0; monitors && i < count; ++i) {
            char* name = XGetAtomName(d, monitors[i].name);
            if (virtualIdOfMonitor(name))
                XRRDeleteMonitor(d, root, monitors[i].name);
            if (name)
                XFree(name);
        }
        if (monitors)
            XRRFreeMonitors(monitors);
    }
    OutputMirror outputs;
    outputs.load(*text);
    if (outputs.changed()) {
        const auto [right, bottom] = outputs.originalExtent();
        int32_t w = 0, h = 0;
        if (screenSize(d, w, h) && (right > w || bottom > h))
            XRRSetScreenSize(d, root, std::max(right, w), std::max(bottom, h), std::max(mmWidth, 1),
                             std::max(mmHeight, 1));
        outputs.restore(d);
    }
    HiDpiResources resources;
    resources.load(*text);
    resources.restore(d);
    if (width > 0 && height > 0)
        XRRSetScreenSize(d, root, width, height, std::max(mmWidth, 1), std::max(mmHeight, 1));
    XDeleteProperty(d, root, XInternAtom(d, kGiveBackProperty, False));
    XSync(d, False);
    std::fprintf(stderr, "platform: gave back the X screen that process %ld left changed (%dx%d)\n",
                 owner, width, height);
}

// Kept after every change: what a server that ends without giving back
// leaves for the next one.
void X11DisplayConfig::keepGiveBackLocked(Display* d, bool changed) {
    const Window root = DefaultRootWindow(d);
    const Atom name = XInternAtom(d, kGiveBackProperty, False);
    if (!changed) {
        XDeleteProperty(d, root, name);
        return;
    }
    const std::string text =
        "owner " + std::to_string(::getpid()) + "\nscreen " + std::to_string(startWidth_) + ' ' +
        std::to_string(startHeight_) + ' ' + std::to_string(startMmWidth_) + ' ' +
        std::to_string(startMmHeight_) + '\n' + outputs_.save() + resources_.save();
    XChangeProperty(d, root, name, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<int>(text.size()));
}

void X11DisplayConfig::recover() {
    std::lock_guard lock(conn_.mutex());
    if (Display* d = conn_.get())
        baselineLocked(d);
}

bool X11DisplayConfig::virtualDisplaysSupported() {
    std::lock_guard lock(conn_.mutex());
    Display* d = displayLocked();
    return d && hasMonitorRequests(d);
}

DisplaySpace X11DisplayConfig::maxSpace() {
    std::lock_guard lock(conn_.mutex());
    Display* d = conn_.get();
    int minW = 0, minH = 0, maxW = 0, maxH = 0;
    if (!d || !XRRGetScreenSizeRange(d, DefaultRootWindow(d), &minW, &minH, &maxW, &maxH))
        return {};
    const double scale = configuredScale();
    return {maxW / scale, maxH / scale};
}

void X11DisplayConfig::createVirtualDisplay(const VirtualDisplayDescriptor& descriptor,
                                            VirtualDisplayDone done) {
    auto display = createVirtualDisplay(descriptor);
    const bool made = display != nullptr;
    done(std::move(display), made ? std::string() : "RandR could not make the monitor");
}

std::unique_ptr<VirtualDisplay>
X11DisplayConfig::createVirtualDisplay(const VirtualDisplayDescriptor& descriptor) {
    std::lock_guard lock(conn_.mutex());
    Display* d = displayLocked();
    if (!d || !hasMonitorRequests(d) || !baselineLocked(d))
        return nullptr;
    // A 2x display shows its full pixel size; the screen-wide resources
    // make programs draw at 2x on it.
    const int32_t factor = descriptor.hiDPI ? 2 : 1;
    const auto w = static_cast<int32_t>(descriptor.modePointsWide) * factor;
    const auto h = static_cast<int32_t>(descriptor.modePointsHigh) * factor;
    int minW = 0, minH = 0, maxW = 0, maxH = 0;
    if (w <= 0 || h <= 0 ||
        !XRRGetScreenSizeRange(d, DefaultRootWindow(d), &minW, &minH, &maxW, &maxH) || w > maxW ||
        h > maxH)
        return nullptr;
    Virtual v;
    const uint32_t id = nextId_++;
    v.monitorName = descriptor.name + " [" + std::to_string(id) + "]";
    v.width = w;
    v.height = h;
    v.hiDpi = descriptor.hiDPI;
    v.mmWidth = static_cast<int32_t>(std::lround(descriptor.widthMillimetres));
    v.mmHeight = static_cast<int32_t>(std::lround(descriptor.heightMillimetres));
    // Until a configuration places it, it stands to the right of the rest.
    v.x = mainMirrorOf_ ? 0 : startWidth_;
    for (const auto& [other, o] : virtual_)
        v.x = std::max(v.x, o.x + o.width);
    virtual_[id] = v;
    order_.push_back(id);
    return std::make_unique<X11VirtualDisplay>(*this, alive_, id);
}

void X11DisplayConfig::remove(uint32_t id) {
    std::lock_guard lock(conn_.mutex());
    virtual_.erase(id);
    order_.erase(std::remove(order_.begin(), order_.end(), id), order_.end());
    if (mainMirrorOf_ == id)
        mainMirrorOf_ = 0;
    if (Display* d = displayLocked())
        realiseLocked(d);
}

void X11DisplayConfig::setScreenSizeLocked(Display* d, int32_t width, int32_t height) {
    const bool start = width == startWidth_ && height == startHeight_;
    const int mmW =
        start || startWidth_ <= 0
            ? startMmWidth_
            : static_cast<int>(std::lround(double(startMmWidth_) * width / startWidth_));
    const int mmH =
        start || startHeight_ <= 0
            ? startMmHeight_
            : static_cast<int>(std::lround(double(startMmHeight_) * height / startHeight_));
    ownSizes_.emplace_back(width, height);
    if (ownSizes_.size() > 16)
        ownSizes_.pop_front();
    XRRSetScreenSize(d, DefaultRootWindow(d), width, height, std::max(mmW, 1), std::max(mmH, 1));
}

// A CRTC must lie within the screen when it is set: the screen grows first.
void X11DisplayConfig::growScreenLocked(Display* d, int32_t width, int32_t height) {
    int32_t current = 0, currentH = 0;
    if (!screenSize(d, current, currentH) || (width <= current && height <= currentH))
        return;
    setScreenSizeLocked(d, std::max(width, current), std::max(height, currentH));
}

// While the main display mirrors a display, every active output shows that
// display's area; afterwards the outputs get their own configuration back.
bool X11DisplayConfig::outputsLocked(Display* d, const Virtual* mirrored) {
    if (mirrored && (outputs_.changed() || anyActiveCrtc(d))) {
        growScreenLocked(d, mirrored->x + mirrored->width, mirrored->y + mirrored->height);
        return outputs_.show(d, mirrored->x, mirrored->y, mirrored->width, mirrored->height);
    }
    if (outputs_.changed()) {
        const auto [right, bottom] = outputs_.originalExtent();
        growScreenLocked(d, right, bottom);
        outputs_.restore(d);
    }
    return true;
}

int32_t X11DisplayConfig::realiseLocked(Display* d) {
    if (!baselineLocked(d))
        return kX11ConfigError;
    const Window root = DefaultRootWindow(d);
    bool anyPlaced = false, anyHiDpi = false;
    for (const auto& [id, v] : virtual_) {
        anyPlaced |= v.placed;
        anyHiDpi |= v.placed && v.hiDpi;
    }
    const Virtual* mirrored = nullptr;
    if (auto it = virtual_.find(mainMirrorOf_); it != virtual_.end() && it->second.placed)
        mirrored = &it->second;
    int32_t width = 0, height = 0;
    if (!anyPlaced || !mainMirrorOf_) {
        width = startWidth_;
        height = startHeight_;
    }
    std::vector<std::string> wanted;
    for (const auto& [id, v] : virtual_) {
        if (!v.placed)
            continue;
        width = std::max(width, v.x + v.width);
        height = std::max(height, v.y + v.height);
        wanted.push_back(v.monitorName);
    }
    int minW = 0, minH = 0, maxW = 0, maxH = 0;
    if (!XRRGetScreenSizeRange(d, root, &minW, &minH, &maxW, &maxH) || width > maxW ||
        height > maxH || width < 1 || height < 1)
        return kX11ConfigError;
    if (!outputsLocked(d, mirrored))
        return kX11ConfigError;
    for (const auto& [right, bottom] : crtcExtents(d)) {
        width = std::max(width, right);
        height = std::max(height, bottom);
    }
    if (width > maxW || height > maxH)
        return kX11ConfigError;

    for (const auto& name : declared_)
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end())
            XRRDeleteMonitor(d, root, XInternAtom(d, name.c_str(), False));
    int32_t current = 0, currentH = 0;
    if (screenSize(d, current, currentH) && (current != width || currentH != height))
        setScreenSizeLocked(d, width, height);
    declared_.clear();
    for (uint32_t id : order_) {
        const Virtual& v = virtual_[id];
        if (!v.placed)
            continue;
        XRRMonitorInfo* m = XRRAllocateMonitor(d, 0);
        if (!m)
            continue;
        m->name = XInternAtom(d, v.monitorName.c_str(), False);
        m->primary = id == order_.front() ? True : False;
        m->automatic = False;
        m->x = v.x;
        m->y = v.y;
        m->width = v.width;
        m->height = v.height;
        m->mwidth = std::max(v.mmWidth, 1);
        m->mheight = std::max(v.mmHeight, 1);
        XRRSetMonitor(d, root, m);
        XRRFreeMonitors(m);
        declared_.push_back(v.monitorName);
    }
    if (anyHiDpi)
        resources_.apply(d);
    else
        resources_.restore(d);
    keepGiveBackLocked(d, anyPlaced || outputs_.changed() || resources_.applied() ||
                              width != startWidth_ || height != startHeight_);
    XSync(d, False);
    int32_t nowW = 0, nowH = 0;
    if (conn_.lost() || !screenSize(d, nowW, nowH) || nowW != width || nowH != height)
        return kX11ConfigError;
    return 0;
}

std::vector<uint32_t> X11DisplayConfig::activeDisplays(size_t max) {
    std::lock_guard lock(conn_.mutex());
    std::vector<uint32_t> ids{kX11MainDisplayId};
    ids.insert(ids.end(), order_.begin(), order_.end());
    if (ids.size() > max)
        ids.resize(max);
    return ids;
}

std::vector<uint32_t> X11DisplayConfig::onlineDisplays(size_t max) {
    return activeDisplays(max);
}

bool X11DisplayConfig::bounds(uint32_t display, DisplayBounds& out) {
    std::lock_guard lock(conn_.mutex());
    Display* d = displayLocked();
    if (!d || !baselineLocked(d))
        return false;
    const double scale = configuredScale();
    uint32_t shown = display;
    if (display == kX11MainDisplayId) {
        if (!mainMirrorOf_ || !virtual_.count(mainMirrorOf_)) {
            out = {0, 0, startWidth_ / scale, startHeight_ / scale};
            return true;
        }
        shown = mainMirrorOf_;
    }
    auto it = virtual_.find(shown);
    if (it == virtual_.end())
        return false;
    const Virtual& v = it->second;
    out = {v.x / scale, v.y / scale, v.width / scale, v.height / scale};
    return true;
}

bool X11DisplayConfig::currentMode(uint32_t display, DisplayModeInfo& out) {
    std::lock_guard lock(conn_.mutex());
    Display* d = displayLocked();
    if (!d || !baselineLocked(d))
        return false;
    const double scale = configuredScale();
    if (display == kX11MainDisplayId) {
        out = {startWidth_, startHeight_, startWidth_ / scale, startHeight_ / scale};
        return true;
    }
    auto it = virtual_.find(display);
    if (it == virtual_.end())
        return false;
    const double points = it->second.hiDpi ? 2 : scale;
    out = {it->second.width, it->second.height, it->second.width / points,
           it->second.height / points};
    return true;
}

uint32_t X11DisplayConfig::mirrorsDisplay(uint32_t display) {
    std::lock_guard lock(conn_.mutex());
    return display == kX11MainDisplayId ? mainMirrorOf_ : 0;
}

bool X11DisplayConfig::asleep(uint32_t display) {
    (void)display;
    return power_.displayAsleep();
}

std::unique_ptr<DisplayTransaction> X11DisplayConfig::begin(int32_t& error) {
    std::lock_guard lock(conn_.mutex());
    if (!displayLocked()) {
        error = kX11ConfigError;
        return nullptr;
    }
    error = 0;
    return std::make_unique<X11Transaction>(*this);
}

int32_t X11DisplayConfig::apply(
    const std::vector<std::pair<uint32_t, uint32_t>>& mirrors,
    const std::vector<std::pair<uint32_t, std::pair<int32_t, int32_t>>>& places) {
    std::lock_guard lock(conn_.mutex());
    Display* d = displayLocked();
    if (!d)
        return kX11ConfigError;
    // Only the main display can show another display's picture: there is
    // one framebuffer.
    for (const auto& [display, master] : mirrors)
        if (display != kX11MainDisplayId || (master && !virtual_.count(master)))
            return kX11ConfigError;
    const uint32_t oldMirror = mainMirrorOf_;
    std::map<uint32_t, Virtual> old = virtual_;
    for (const auto& [display, master] : mirrors)
        mainMirrorOf_ = master;
    const double scale = configuredScale();
    for (const auto& [display, at] : places) {
        auto it = virtual_.find(display);
        if (it == virtual_.end())
            continue;
        const auto x = static_cast<int32_t>(std::lround(at.first * scale));
        const auto y = static_cast<int32_t>(std::lround(at.second * scale));
        if (x < 0 || y < 0) {
            virtual_ = old;
            mainMirrorOf_ = oldMirror;
            return kX11ConfigError;
        }
        it->second.x = x;
        it->second.y = y;
        it->second.placed = true;
    }
    const int32_t error = realiseLocked(d);
    if (error != 0) {
        // The screen keeps what it had; so does our picture of it.
        virtual_ = old;
        mainMirrorOf_ = oldMirror;
        realiseLocked(d);
    }
    return error;
}

void X11DisplayConfig::setScreenChangeHandler(std::function<void()> handler) {
    {
        std::lock_guard lock(handlerMutex_);
        handler_ = std::move(handler);
    }
    std::lock_guard lock(conn_.mutex());
    if (watcher_.joinable())
        return;
    if (Display* d = displayLocked())
        baselineLocked(d);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ >= 0)
        watcher_ = std::thread([this] { watch(); });
}

void X11DisplayConfig::report() {
    std::function<void()> handler;
    {
        std::lock_guard lock(handlerMutex_);
        handler = handler_;
    }
    if (handler)
        handler();
}

// A lost connection is closed at once; the next one is opened when the
// service's own connection came back (it wakes us).
void X11DisplayConfig::watch() {
    while (!quit_.load()) {
        // Opened and closed under the service's lock, so that this connection
        // and the service's are never opened or closed at the same moment
        // (the thread sanitizer saw Xlib crash in XOpenDisplay when they were).
        OwnedDisplay owned;
        {
            std::lock_guard lock(conn_.mutex());
            owned = openCaptureDisplay();
        }
        if (reportPending_.exchange(false))
            report();
        const bool woken = followChanges(owned);
        {
            std::lock_guard lock(conn_.mutex());
            owned = OwnedDisplay{};
        }
        if (!woken)
            awaitWake(-1);
    }
}

bool X11DisplayConfig::awaitWake(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
    }
    if (!fds[1].revents)
        return false;
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
    return true;
}

// Until woken (true) or the connection is lost (false).
bool X11DisplayConfig::followChanges(const OwnedDisplay& owned) {
    Display* d = owned.display.get();
    int eventBase = 0, errorBase = 0;
    if (!d || !XRRQueryExtension(d, &eventBase, &errorBase))
        return false;
    XRRSelectInput(d, DefaultRootWindow(d), RRScreenChangeNotifyMask);
    XFlush(d);
    for (;;) {
        if (owned.lost->load())
            return false;
        if (awaitWake(ConnectionNumber(d)))
            return true;
        bool outside = false;
        while (!owned.lost->load() && XPending(d) > 0) {
            XEvent event;
            XNextEvent(d, &event);
            if (event.type != eventBase + RRScreenChangeNotify)
                continue;
            XRRUpdateConfiguration(&event);
            const auto& change = reinterpret_cast<const XRRScreenChangeNotifyEvent&>(event);
            const std::pair<int32_t, int32_t> size{change.width, change.height};
            std::lock_guard lock(conn_.mutex());
            auto own = std::find(ownSizes_.begin(), ownSizes_.end(), size);
            if (own != ownSizes_.end()) {
                ownSizes_.erase(ownSizes_.begin(), own + 1);
                continue;
            }
            const bool ours = !virtual_.empty() || !ownSizes_.empty();
            if (!haveBaseline_ || (size.first == startWidth_ && size.second == startHeight_) ||
                ours)
                continue;
            // Someone else sized the screen: that is the start-up size now.
            startWidth_ = size.first;
            startHeight_ = size.second;
            startMmWidth_ = change.mwidth;
            startMmHeight_ = change.mheight;
            outside = true;
        }
        if (outside)
            report();
    }
}

} // namespace corvane::platform::x11
