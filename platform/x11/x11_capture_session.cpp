#include "x11_capture_session.h"

#include <poll.h>
#include <unistd.h>

#include <X11/extensions/Xrandr.h>

namespace corvane::platform::x11 {

namespace {

using Clock = std::chrono::steady_clock;

// Many small reads cost a round trip each; past this many rectangles one
// read of their bounding box is cheaper.
constexpr int kMaxSeparateReads = 8;

void addRect(pixman_region32_t& region, const Rect& r) {
    if (r.width > 0 && r.height > 0)
        pixman_region32_union_rect(&region, &region, r.x, r.y, unsigned(r.width),
                                   unsigned(r.height));
}

} // namespace

CaptureSession::CaptureSession(uint32_t displayId, const CaptureSettings& settings, int wakeFd,
                               std::function<void()> bufferReleased)
    : displayId_(displayId), settings_(settings), wakeFd_(wakeFd),
      bufferReleased_(std::move(bufferReleased)) {
    pixman_region32_init(&pending_);
}

CaptureSession::~CaptureSession() {
    close();
    pixman_region32_fini(&pending_);
}

bool CaptureSession::open(std::string& error) {
    owned_ = openCaptureDisplay();
    display_ = owned_.display.get();
    if (!display_) {
        error = "the X display cannot be opened";
        return false;
    }
    bool found = false;
    for (const auto& region : captureRegions(display_))
        if (region.id == displayId_) {
            region_ = region.pixels;
            found = true;
        }
    if (!found || region_.width <= 0 || region_.height <= 0) {
        error = "display " + std::to_string(displayId_) + " is not on the X screen";
        return false;
    }
    int damageError = 0;
    if (!XDamageQueryExtension(display_, &damageEventBase_, &damageError)) {
        error = "the X server has no DAMAGE extension";
        return false;
    }
    reader_ = std::make_unique<ShmReader>();
    if (!reader_->open(display_, region_, error))
        return false;
    pool_ = std::make_unique<FramePool>(region_.width, region_.height, settings_, bufferReleased_);
    const Window root = DefaultRootWindow(display_);
    XSelectInput(display_, root, StructureNotifyMask);
    int randrError = 0;
    if (XRRQueryExtension(display_, &randrEventBase_, &randrError))
        XRRSelectInput(display_, root, RRScreenChangeNotifyMask);
    else
        randrEventBase_ = -1;
    damage_ = XDamageCreate(display_, root, XDamageReportRawRectangles);
    cursorOn_ = settings_.showCursor && cursor_.open(display_, region_);
    XSync(display_, False);
    if (owned_.lost->load()) {
        error = "the X connection was lost";
        return false;
    }
    addRect(pending_, {0, 0, region_.width, region_.height});
    return true;
}

void CaptureSession::close() {
    if (!display_)
        return;
    if (!owned_.lost->load() && damage_)
        XDamageDestroy(display_, damage_);
    damage_ = 0;
    reader_.reset(); // detaches the segment while the connection is open
    pool_.reset();   // frames still held keep their own buffers
    owned_.display.reset();
    display_ = nullptr;
}

bool CaptureSession::readEvents() {
    while (!owned_.lost->load() && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == damageEventBase_ + XDamageNotify) {
            const auto& area = reinterpret_cast<const XDamageNotifyEvent&>(event).area;
            const Rect screen{area.x - region_.x, area.y - region_.y, area.width, area.height};
            addRect(pending_, screen);
        } else if (event.type == ConfigureNotify ||
                   (randrEventBase_ >= 0 && event.type == randrEventBase_ + RRScreenChangeNotify)) {
            XRRUpdateConfiguration(&event);
            geometryChanged_ = true;
        } else if (cursorOn_) {
            cursor_.handle(event);
        }
    }
    pixman_region32_intersect_rect(&pending_, &pending_, 0, 0, unsigned(region_.width),
                                   unsigned(region_.height));
    return !owned_.lost->load();
}

std::optional<std::string> CaptureSession::regionProblem() {
    for (const auto& region : captureRegions(display_))
        if (region.id == displayId_ && region.pixels == region_)
            return std::nullopt;
    return "display " + std::to_string(displayId_) + " changed size or went away";
}

bool CaptureSession::readDamage(pixman_region32_t& frameDirty) {
    int count = 0;
    const pixman_box32_t* boxes = pixman_region32_rectangles(&pending_, &count);
    if (count > kMaxSeparateReads) {
        boxes = pixman_region32_extents(&pending_);
        count = 1;
    }
    for (int i = 0; i < count; ++i) {
        const Rect area{boxes[i].x1, boxes[i].y1, boxes[i].x2 - boxes[i].x1,
                        boxes[i].y2 - boxes[i].y1};
        if (!reader_->read(area))
            return false;
        addRect(frameDirty, pool_->frameArea(area));
    }
    pixman_region32_clear(&pending_);
    return true;
}

bool CaptureSession::produceFrame(const SessionHooks& hooks) {
    pixman_region32_t frameDirty;
    pixman_region32_init(&frameDirty);
    bool ok = readDamage(frameDirty);
    if (ok) {
        if (firstFrame_)
            addRect(frameDirty, {0, 0, settings_.width, settings_.height});
        pool_->invalidate(frameDirty);
        if (cursorOn_ && cursor_.changed()) {
            addRect(frameDirty, pool_->cursorArea(&cursor_.picture()));
            cursor_.refresh();
            addRect(frameDirty, pool_->cursorArea(&cursor_.picture()));
        }
        FrameHandle frame = pool_->fill(reader_->mirror(), reader_->stride(),
                                        cursorOn_ ? &cursor_.picture() : nullptr, frameDirty);
        firstFrame_ = false;
        if (frame)
            hooks.deliver(std::move(frame));
    }
    pixman_region32_fini(&frameDirty);
    return ok;
}

void CaptureSession::waitForWork(int timeoutMs) {
    XFlush(display_);
    if (XEventsQueued(display_, QueuedAlready) > 0)
        return;
    pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    ::poll(fds, 2, timeoutMs);
    if (fds[1].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
}

std::string CaptureSession::run(const SessionHooks& hooks) {
    Clock::time_point lastFrame = Clock::now() - std::chrono::hours(1);
    for (;;) {
        if (hooks.stopWanted())
            return {};
        if (!readEvents())
            return "the X connection was lost";
        if (geometryChanged_) {
            geometryChanged_ = false;
            if (auto problem = regionProblem())
                return *problem;
        }
        const bool work =
            firstFrame_ || pixman_region32_not_empty(&pending_) || (cursorOn_ && cursor_.changed());
        int timeoutMs = -1;
        if (work && pool_->hasFreeBuffer()) {
            const auto now = Clock::now();
            const auto due = lastFrame + hooks.interval();
            if (now >= due) {
                if (!produceFrame(hooks))
                    return owned_.lost->load()
                               ? "the X connection was lost"
                               : regionProblem().value_or("the screen could not be read");
                lastFrame = now;
                continue;
            }
            timeoutMs = int(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
        }
        waitForWork(timeoutMs);
    }
}

} // namespace corvane::platform::x11
