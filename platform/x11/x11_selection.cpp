#include "x11_selection.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "x11_connection.h"

namespace corvane::platform::x11 {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// An answer that makes no progress for this long is given up; a whole
// transfer may take longer as long as chunks keep coming.
constexpr auto kStallLimit = 3s;
constexpr auto kTransferLimit = 60s;
constexpr auto kJobLimit = 3s;
// Nothing this large crosses the clipboard (a 16-mebipixel picture is 64 MiB
// raw; its PNG or TIFF form is smaller or close).
constexpr size_t kMaxIncoming = size_t(96) << 20;
constexpr size_t kMaxChunk = size_t(256) << 10;

struct PropertyData {
    bool ok = false;
    Atom type = None;
    int format = 0;
    std::vector<uint8_t> bytes;       // format 8
    std::vector<unsigned long> longs; // format 32 (one long per item in Xlib)
};

// Reads a whole property in 1 MiB rounds, deleting it afterwards when asked.
PropertyData readProperty(Display* d, Window w, Atom property, bool remove, size_t limit) {
    PropertyData p;
    long offset = 0;
    for (;;) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, w, property, offset, 1L << 18, False, AnyPropertyType, &type,
                               &format, &count, &after, &data) != Success)
            return p;
        p.type = type;
        p.format = format;
        if (format == 8)
            p.bytes.insert(p.bytes.end(), data, data + count);
        else if (format == 32) {
            auto* longs = reinterpret_cast<unsigned long*>(data);
            p.longs.insert(p.longs.end(), longs, longs + count);
        }
        if (data)
            XFree(data);
        if (p.bytes.size() > limit || p.longs.size() > limit / 4)
            return p;
        if (after == 0 || count == 0 || format != 8)
            break;
        offset += static_cast<long>(count / 4);
    }
    if (remove)
        XDeleteProperty(d, w, property);
    p.ok = true;
    return p;
}

// ICCCM's STRING is Latin-1; characters outside it become '?'.
std::vector<uint8_t> utf8ToLatin1(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        const uint8_t c = in[i];
        if (c < 0x80) {
            out.push_back(c);
            i += 1;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < in.size()) {
            const uint32_t cp = ((c & 0x1Fu) << 6) | (in[i + 1] & 0x3Fu);
            out.push_back(cp < 0x100 ? static_cast<uint8_t>(cp) : '?');
            i += 2;
        } else {
            out.push_back('?');
            i += 1;
            while (i < in.size() && (in[i] & 0xC0) == 0x80)
                ++i;
        }
    }
    return out;
}

} // namespace

struct SelectionWorker::Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::optional<Reply> reply;
    Clock::time_point progress = Clock::now();

    void finish(std::optional<Reply> r) {
        std::lock_guard lock(mutex);
        reply = std::move(r);
        done = true;
        cv.notify_all();
    }
    void touch() {
        std::lock_guard lock(mutex);
        progress = Clock::now();
    }
};

SelectionWorker::SelectionWorker(std::shared_ptr<std::atomic<int64_t>> count)
    : count_(std::move(count)) {}

SelectionWorker::~SelectionWorker() {
    stop_.store(true);
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        (void)!::write(wakeFd_, &one, sizeof one);
    }
    if (thread_.joinable())
        thread_.join();
    // A lost connection stays open: Xlib can wait for ever in XCloseDisplay
    // for a reader the loss interrupted. What it keeps is small.
    if (display_ && !lost_.load())
        XCloseDisplay(display_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

Atom SelectionWorker::atom(const char* name) {
    return XInternAtom(display_, name, False);
}

bool SelectionWorker::start() {
    installQuietErrorHandlers();
    display_ = XOpenDisplay(nullptr);
    if (!display_)
        return false;
    XSetIOErrorExitHandler(
        display_, [](Display*, void* flag) { static_cast<std::atomic<bool>*>(flag)->store(true); },
        &lost_);
    int errorBase = 0;
    if (!XFixesQueryExtension(display_, &fixesEventBase_, &errorBase))
        return false;
    window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display_, window_, PropertyChangeMask);
    XFixesSelectSelectionInput(display_, window_, atom("CLIPBOARD"),
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    long maxRequest = XExtendedMaxRequestSize(display_);
    if (maxRequest <= 0)
        maxRequest = XMaxRequestSize(display_);
    chunkBytes_ = std::min(kMaxChunk, static_cast<size_t>(maxRequest) * 4 - 1024);
    XSync(display_, False);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0 || lost_.load())
        return false;
    running_.store(true);
    thread_ = std::thread([this] { run(); });
    return true;
}

void SelectionWorker::post(std::function<void()> job) {
    {
        std::lock_guard lock(jobsMutex_);
        jobs_.push_back(std::move(job));
    }
    const uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
}

void SelectionWorker::runJobs() {
    std::deque<std::function<void()>> jobs;
    {
        std::lock_guard lock(jobsMutex_);
        jobs.swap(jobs_);
    }
    for (auto& job : jobs)
        job();
}

void SelectionWorker::run() {
    const int xfd = ConnectionNumber(display_);
    while (!stop_.load() && !lost_.load()) {
        runJobs();
        while (!lost_.load() && XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            handle(event);
        }
        expireTransfers();
        if (lost_.load())
            break;
        XFlush(display_);
        if (XEventsQueued(display_, QueuedAlready) > 0)
            continue;
        pollfd fds[2] = {{xfd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, 250) > 0 && (fds[1].revents & POLLIN)) {
            uint64_t drained = 0;
            (void)!::read(wakeFd_, &drained, sizeof drained);
        }
    }
    running_.store(false);
    if (pending_)
        finishConversion(false);
    runJobs(); // answers nobody waits for any more; their waiters time out
}

void SelectionWorker::handle(XEvent& event) {
    if (event.type == fixesEventBase_ + XFixesSelectionNotify) {
        onOwnerChange(event);
        return;
    }
    switch (event.type) {
    case SelectionNotify:
        onSelectionNotify(event.xselection);
        break;
    case PropertyNotify:
        onPropertyNotify(event.xproperty);
        break;
    case SelectionRequest:
        onSelectionRequest(event.xselectionrequest);
        break;
    case SelectionClear:
        if (event.xselectionclear.selection == atom("CLIPBOARD")) {
            std::lock_guard lock(ownedMutex_);
            owned_.reset();
        }
        break;
    default:
        break;
    }
}

// Our own ownership was counted when we took it; everything else, another
// program taking the selection or its owner going away, is a change.
void SelectionWorker::onOwnerChange(XEvent& event) {
    const auto* notify = reinterpret_cast<XFixesSelectionNotifyEvent*>(&event);
    if (notify->selection != atom("CLIPBOARD"))
        return;
    if (notify->subtype == XFixesSetSelectionOwnerNotify && notify->owner == window_ &&
        std::find(ownTimes_.begin(), ownTimes_.end(), notify->selection_timestamp) !=
            ownTimes_.end())
        return;
    if (notify->owner != window_) {
        std::lock_guard lock(ownedMutex_);
        owned_.reset();
    }
    count_->fetch_add(1);
}

std::optional<SelectionWorker::Reply> SelectionWorker::convert(const std::string& target) {
    if (!alive())
        return std::nullopt;
    auto waiter = std::make_shared<Waiter>();
    const uint64_t id = nextId_.fetch_add(1);
    post([this, target, waiter, id] { startConversion(atom(target.c_str()), waiter, id); });
    const auto begin = Clock::now();
    std::unique_lock lock(waiter->mutex);
    while (!waiter->done) {
        waiter->cv.wait_for(lock, 100ms);
        if (waiter->done)
            break;
        const auto now = Clock::now();
        if (now - waiter->progress > kStallLimit || now - begin > kTransferLimit || !alive()) {
            lock.unlock();
            post([this, id] {
                if (pending_ && pending_->id == id)
                    finishConversion(false);
            });
            return std::nullopt;
        }
    }
    return std::move(waiter->reply);
}

void SelectionWorker::startConversion(Atom target, const std::shared_ptr<Waiter>& waiter,
                                      uint64_t id) {
    if (pending_)
        finishConversion(false);
    const Atom clipboard = atom("CLIPBOARD");
    if (XGetSelectionOwner(display_, clipboard) == None) {
        waiter->finish(std::nullopt);
        return;
    }
    // Consecutive conversions use different properties, so an owner still
    // answering one we gave up on cannot write into the next one's value.
    const std::string name = "CORVANE_SELECTION_" + std::to_string(id % 4);
    Conversion c;
    c.id = id;
    c.target = target;
    c.property = atom(name.c_str());
    c.waiter = waiter;
    XDeleteProperty(display_, window_, c.property);
    XConvertSelection(display_, clipboard, target, c.property, window_, CurrentTime);
    pending_ = std::move(c);
}

void SelectionWorker::finishConversion(bool ok) {
    if (!pending_)
        return;
    Conversion c = std::move(*pending_);
    pending_.reset();
    if (!ok) {
        c.waiter->finish(std::nullopt);
        return;
    }
    Reply reply;
    if (char* name = c.type != None ? XGetAtomName(display_, c.type) : nullptr) {
        reply.type = name;
        XFree(name);
    }
    reply.data = std::move(c.data);
    c.waiter->finish(std::move(reply));
}

void SelectionWorker::onSelectionNotify(const XSelectionEvent& event) {
    if (!pending_ || event.requestor != window_ || event.selection != atom("CLIPBOARD") ||
        event.target != pending_->target ||
        (event.property != None && event.property != pending_->property))
        return;
    if (event.property == None) {
        finishConversion(false);
        return;
    }
    PropertyData p = readProperty(display_, window_, event.property, true, kMaxIncoming);
    if (!p.ok) {
        finishConversion(false);
        return;
    }
    if (p.type == atom("INCR")) {
        // The owner sends the value in chunks, each after we delete the last.
        pending_->incr = true;
        pending_->type = None;
        pending_->waiter->touch();
        return;
    }
    pending_->type = p.type;
    if (p.format == 32 && p.type == XA_ATOM) {
        Reply reply;
        reply.type = "ATOM";
        for (unsigned long a : p.longs) {
            if (char* name = XGetAtomName(display_, static_cast<Atom>(a))) {
                reply.atoms.emplace_back(name);
                XFree(name);
            }
        }
        auto waiter = pending_->waiter;
        pending_.reset();
        waiter->finish(std::move(reply));
        return;
    }
    if (p.format != 8) {
        finishConversion(false);
        return;
    }
    pending_->data = std::move(p.bytes);
    finishConversion(true);
}

void SelectionWorker::onPropertyNotify(const XPropertyEvent& event) {
    if (event.window == window_) {
        if (!pending_ || !pending_->incr || event.state != PropertyNewValue ||
            event.atom != pending_->property)
            return;
        PropertyData p = readProperty(display_, window_, event.atom, true, kMaxIncoming);
        // Only an empty chunk ends the transfer; one in another format is
        // refused rather than taken for the end (which would cut the value).
        if (!p.ok || (p.format != 8 && (!p.bytes.empty() || !p.longs.empty())) ||
            pending_->data.size() + p.bytes.size() > kMaxIncoming) {
            finishConversion(false);
            return;
        }
        if (p.bytes.empty()) {
            finishConversion(true); // a chunk of length 0 ends the transfer
            return;
        }
        pending_->type = p.type;
        pending_->data.insert(pending_->data.end(), p.bytes.begin(), p.bytes.end());
        pending_->waiter->touch();
        return;
    }
    if (event.state != PropertyDelete)
        return;
    for (auto it = transfers_.begin(); it != transfers_.end(); ++it) {
        if (it->requestor != event.window || it->property != event.atom)
            continue;
        Transfer& t = *it;
        t.lastActivity = Clock::now();
        if (t.finished) {
            transfers_.erase(it);
            break;
        }
        const size_t n = std::min(chunkBytes_, t.data->size() - t.offset);
        XChangeProperty(display_, t.requestor, t.property, t.type, 8, PropModeReplace,
                        t.data->data() + t.offset, static_cast<int>(n));
        t.offset += n;
        t.finished = n == 0;
        break;
    }
}

bool SelectionWorker::answerRequest(const XSelectionRequestEvent& r, Atom property) {
    std::optional<Owned> current;
    {
        std::lock_guard lock(ownedMutex_);
        current = owned_;
    }
    if (!current || r.selection != atom("CLIPBOARD") ||
        (r.time != CurrentTime && r.time < ownTime_))
        return false;
    const bool text = current->type == PasteboardType::Text;
    const Atom utf8 = atom("UTF8_STRING");
    const Atom plainUtf8 = atom("text/plain;charset=utf-8");
    const Atom png = atom("image/png");
    const Atom tiff = atom("image/tiff");
    if (r.target == atom("TARGETS")) {
        std::vector<Atom> targets{atom("TARGETS"), atom("TIMESTAMP")};
        if (text)
            targets.insert(targets.end(), {utf8, XA_STRING, atom("TEXT"), plainUtf8});
        else
            targets.push_back(current->type == PasteboardType::Png ? png : tiff);
        XChangeProperty(display_, r.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(targets.data()),
                        static_cast<int>(targets.size()));
        return true;
    }
    if (r.target == atom("TIMESTAMP")) {
        const long stamp = static_cast<long>(ownTime_);
        XChangeProperty(display_, r.requestor, property, XA_INTEGER, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&stamp), 1);
        return true;
    }
    Atom type = None;
    std::shared_ptr<const std::vector<uint8_t>> data = current->data;
    if (text && (r.target == utf8 || r.target == atom("TEXT") || r.target == plainUtf8)) {
        type = r.target == plainUtf8 ? plainUtf8 : utf8;
    } else if (text && r.target == XA_STRING) {
        type = XA_STRING;
        data = std::make_shared<const std::vector<uint8_t>>(utf8ToLatin1(*current->data));
    } else if (!text && r.target == (current->type == PasteboardType::Png ? png : tiff)) {
        type = r.target;
    } else {
        return false;
    }
    if (data->size() > chunkBytes_) {
        // Too large for one request: announce the size, then one chunk each
        // time the requestor deletes the property.
        XSelectInput(display_, r.requestor, PropertyChangeMask);
        const long size = static_cast<long>(data->size());
        XChangeProperty(display_, r.requestor, property, atom("INCR"), 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&size), 1);
        transfers_.push_back({r.requestor, property, type, data, 0, false, Clock::now()});
        return true;
    }
    XChangeProperty(display_, r.requestor, property, type, 8, PropModeReplace, data->data(),
                    static_cast<int>(data->size()));
    return true;
}

void SelectionWorker::onSelectionRequest(const XSelectionRequestEvent& r) {
    // Clients from before ICCCM 2 leave the property empty: use the target.
    const Atom property = r.property != None ? r.property : r.target;
    // A requestor that asks again into the same property has given up on
    // any transfer still running there; feeding it the old chunks would
    // splice them into the new answer.
    transfers_.remove_if(
        [&](const Transfer& t) { return t.requestor == r.requestor && t.property == property; });
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = r.display;
    reply.requestor = r.requestor;
    reply.selection = r.selection;
    reply.target = r.target;
    reply.time = r.time;
    reply.property = answerRequest(r, property) ? property : None;
    XSendEvent(display_, r.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&reply));
}

void SelectionWorker::expireTransfers() {
    const auto now = Clock::now();
    transfers_.remove_if([&](const Transfer& t) { return now - t.lastActivity > 10s; });
}

// The server's time: the stamp of a property change on our own window;
// nothing when the server went away or stopped answering. Not XIfEvent: on
// a lost connection that never returns.
std::optional<Time> SelectionWorker::serverTime() {
    const Atom stamp = atom("CORVANE_TIMESTAMP");
    XChangeProperty(display_, window_, stamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
    struct Match {
        Window window;
        Atom atom;
    } match{window_, stamp};
    const auto isStamp = [](Display*, XEvent* e, XPointer arg) -> Bool {
        const auto* m = reinterpret_cast<Match*>(arg);
        return e->type == PropertyNotify && e->xproperty.window == m->window &&
               e->xproperty.atom == m->atom;
    };
    const auto giveUp = Clock::now() + kStallLimit;
    XEvent event;
    while (!lost_.load()) {
        if (XCheckIfEvent(display_, &event, isStamp, reinterpret_cast<XPointer>(&match)))
            return event.xproperty.time;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(giveUp - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd{ConnectionNumber(display_), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(std::min<int64_t>(left.count(), 100)));
    }
    return std::nullopt;
}

bool SelectionWorker::takeOwnership(PasteboardType type, std::vector<uint8_t> data) {
    const Atom clipboard = atom("CLIPBOARD");
    const std::optional<Time> stamp = serverTime();
    if (!stamp || lost_.load())
        return false;
    const Time time = *stamp;
    {
        std::lock_guard lock(ownedMutex_);
        owned_ = Owned{type, std::make_shared<const std::vector<uint8_t>>(std::move(data))};
    }
    ownTime_ = time;
    XSetSelectionOwner(display_, clipboard, window_, time);
    if (XGetSelectionOwner(display_, clipboard) != window_) {
        std::lock_guard lock(ownedMutex_);
        owned_.reset();
        return false;
    }
    ownTimes_.push_back(time);
    if (ownTimes_.size() > 8)
        ownTimes_.pop_front();
    count_->fetch_add(1);
    return true;
}

bool SelectionWorker::own(PasteboardType type, std::vector<uint8_t> data) {
    if (!alive())
        return false;
    auto result = std::make_shared<Waiter>();
    post([this, type, result, data = std::move(data)]() mutable {
        Reply r;
        const bool ok = takeOwnership(type, std::move(data));
        result->finish(ok ? std::optional<Reply>(std::move(r)) : std::nullopt);
    });
    // A worker whose connection is lost may never run the job: its end is
    // the answer too.
    const auto giveUp = Clock::now() + kJobLimit;
    std::unique_lock lock(result->mutex);
    while (!result->done) {
        result->cv.wait_for(lock, 100ms);
        if (!result->done && (!alive() || Clock::now() > giveUp))
            return false;
    }
    return result->reply.has_value();
}

std::optional<SelectionWorker::Owned> SelectionWorker::owned() {
    std::lock_guard lock(ownedMutex_);
    return owned_;
}

} // namespace corvane::platform::x11
