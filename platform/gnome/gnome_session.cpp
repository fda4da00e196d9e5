#include "gnome_session.h"

namespace corvane::platform::gnome {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kRemoteDesktopPath = "/org/gnome/Mutter/RemoteDesktop";
constexpr const char* kRemoteDesktopInterface = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kScreenCastPath = "/org/gnome/Mutter/ScreenCast";
constexpr const char* kScreenCastInterface = "org.gnome.Mutter.ScreenCast";

std::string readObjectPath(sd_bus_message* reply) {
    const char* path = nullptr;
    if (!reply || sd_bus_message_read(reply, "o", &path) < 0 || !path)
        return {};
    return path;
}

} // namespace

bool gnomeReadStreamGeometry(sd_bus_message* m, GnomeStreamInfo& info) {
    if (sd_bus_message_enter_container(m, 'v', "a{sv}") < 0 ||
        sd_bus_message_enter_container(m, 'a', "{sv}") < 0)
        return false;
    bool sized = false;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0)
            return false;
        const std::string name = key ? key : "";
        int32_t a = 0, b = 0;
        if ((name == "position" || name == "size") &&
            sd_bus_message_read(m, "v", "(ii)", &a, &b) >= 0) {
            if (name == "size") {
                info.width = a;
                info.height = b;
                sized = true;
            } else {
                info.x = a;
                info.y = b;
            }
        } else if (sd_bus_message_skip(m, "v") < 0) {
            return false;
        }
        sd_bus_message_exit_container(m);
    }
    return sized;
}

GnomeSession::~GnomeSession() {
    close();
}

void GnomeSession::setEndedHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(mutex_);
    endedHandler_ = std::move(handler);
}

bool GnomeSession::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::string GnomeSession::remoteDesktopPath() const {
    std::lock_guard lock(mutex_);
    return running_ ? remoteDesktopPath_ : std::string();
}

std::optional<GnomeStreamInfo> GnomeSession::stream() const {
    std::lock_guard lock(mutex_);
    return running_ ? stream_ : std::nullopt;
}

// A bus whose session finished is ended here, off its own thread.
void GnomeSession::retireBus() {
    std::unique_ptr<GnomeBus> old;
    {
        std::lock_guard lock(mutex_);
        if (!finished_ || !bus_)
            return;
        old = std::move(bus_);
    }
    old->close();
}

void GnomeSession::open(Done done) {
    retireBus();
    std::unique_lock lock(mutex_);
    if (running_) {
        lock.unlock();
        done(true, {});
        return;
    }
    waiting_.push_back(std::move(done));
    if (bus_)
        return; // opening: the answer comes to every waiter
    bus_ = std::make_unique<GnomeBus>();
    finished_ = false;
    std::string error;
    GnomeBus* bus = bus_.get();
    const bool connected = bus->open(
        [this](const std::string& why) {
            // On the bus thread, which has stopped driving the connection.
            report(state_.endedFromOutside(why, Clock::now()));
            dropSlots();
        },
        error);
    if (!connected) {
        auto waiters = std::move(waiting_);
        waiting_.clear();
        bus_.reset();
        finished_ = true;
        lock.unlock();
        for (auto& w : waiters)
            w(false, error);
        return;
    }
    lock.unlock();
    bus->post([this](sd_bus* b) {
        state_ = GnomeSessionState(limits_);
        watchCompositor(b);
        apply(b, state_.begin(Clock::now()));
    });
}

void GnomeSession::close() {
    GnomeBus* bus = nullptr;
    {
        std::lock_guard lock(mutex_);
        bus = finished_ ? nullptr : bus_.get();
    }
    if (!bus) {
        retireBus();
        return;
    }
    bus->post([this](sd_bus* b) { apply(b, state_.closeWanted(Clock::now())); });
    {
        std::unique_lock lock(mutex_);
        // The state machine bounds the stop; this only guards against a
        // bus thread that no longer runs tasks.
        finishedCv_.wait_for(lock, limits_.stop + std::chrono::seconds(1),
                             [&] { return finished_; });
        finished_ = true;
    }
    retireBus();
}

void GnomeSession::apply(sd_bus* bus, const GnomeSessionEffect& effect) {
    if (effect.call)
        makeCall(bus, *effect.call);
    if (auto deadline = state_.deadline()) {
        std::lock_guard lock(mutex_);
        if (bus_)
            bus_->postAt(*deadline, [this](sd_bus* b) { apply(b, state_.tick(Clock::now())); });
    }
    report(effect);
    if (effect.finished)
        dropSlots();
}

void GnomeSession::report(const GnomeSessionEffect& effect) {
    std::vector<Done> waiters;
    std::function<void(const std::string&)> ended;
    std::vector<std::function<void(const std::string&)>> listeners;
    {
        std::lock_guard lock(mutex_);
        if (effect.opened || effect.failed) {
            waiters = std::move(waiting_);
            waiting_.clear();
        }
        if (effect.opened)
            running_ = true;
        if (effect.ended)
            ended = endedHandler_;
        if (effect.finished && running_) {
            running_ = false;
            for (auto& [id, l] : endListeners_)
                listeners.push_back(l);
        }
    }
    for (auto& w : waiters)
        w(effect.opened, effect.failed.value_or(std::string()));
    const std::string reason = effect.ended.value_or("the session was closed");
    for (auto& l : listeners)
        l(reason);
    if (ended)
        ended(*effect.ended);
    if (effect.finished) {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        finishedCv_.notify_all();
    }
}

void GnomeSession::dropSlots() {
    for (sd_bus_slot* slot : ownSlots_)
        sd_bus_slot_unref(slot);
    ownSlots_.clear();
    for (auto& [id, slot] : subscribed_)
        sd_bus_slot_unref(slot);
    subscribed_.clear();
    for (auto& [path, slot] : virtualSlots_)
        sd_bus_slot_unref(slot);
    virtualSlots_.clear();
}

void GnomeSession::answer(sd_bus* bus, bool ok, const std::string& error) {
    apply(bus, state_.callAnswered(ok, error, Clock::now()));
}

void GnomeSession::makeCall(sd_bus* bus, GnomeSessionCall call) {
    switch (call) {
    case GnomeSessionCall::CreateRemoteDesktop:
        createRemoteDesktop(bus);
        break;
    case GnomeSessionCall::CreateScreenCast:
        createScreenCast(bus);
        break;
    case GnomeSessionCall::RecordMonitor:
        recordMonitor(bus);
        break;
    case GnomeSessionCall::Start:
    case GnomeSessionCall::Stop: {
        const std::string path = [&] {
            std::lock_guard lock(mutex_);
            return remoteDesktopPath_;
        }();
        GnomeBus::call(bus, kRemoteDesktopService, path.c_str(), kRemoteDesktopSessionInterface,
                       call == GnomeSessionCall::Start ? "Start" : "Stop", {},
                       [this, bus](sd_bus_message* reply, const std::string& error) {
                           answer(bus, reply != nullptr, error);
                       });
        break;
    }
    }
}

// The compositor leaving the bus ends the session: mutter killed or crashed
// sends no Closed.
void GnomeSession::watchCompositor(sd_bus* bus) {
    const std::string rule = std::string("type='signal',sender='org.freedesktop.DBus',"
                                         "member='NameOwnerChanged',arg0='") +
                             kRemoteDesktopService + "'";
    if (sd_bus_slot* slot = GnomeBus::matchRule(bus, rule.c_str(), [this, bus](sd_bus_message* m) {
            const char *name = nullptr, *from = nullptr, *to = nullptr;
            if (sd_bus_message_read(m, "sss", &name, &from, &to) >= 0 && to && !*to)
                apply(bus,
                      state_.endedFromOutside("the compositor left the session bus", Clock::now()));
        }))
        ownSlots_.push_back(slot);
}

void GnomeSession::createRemoteDesktop(sd_bus* bus) {
    GnomeBus::call(
        bus, kRemoteDesktopService, kRemoteDesktopPath, kRemoteDesktopInterface, "CreateSession",
        {}, [this, bus](sd_bus_message* reply, const std::string& error) {
            const std::string path = readObjectPath(reply);
            if (path.empty()) {
                answer(bus, false, error.empty() ? "no session object" : error);
                return;
            }
            {
                std::lock_guard lock(mutex_);
                remoteDesktopPath_ = path;
            }
            if (sd_bus_slot* slot = GnomeBus::match(
                    bus, nullptr, path.c_str(), kRemoteDesktopSessionInterface, "Closed",
                    [this, bus](sd_bus_message*) {
                        apply(bus, state_.endedFromOutside("the compositor closed the session",
                                                           Clock::now()));
                    }))
                ownSlots_.push_back(slot);
            readSessionId(bus);
        });
}

void GnomeSession::readSessionId(sd_bus* bus) {
    const std::string path = [&] {
        std::lock_guard lock(mutex_);
        return remoteDesktopPath_;
    }();
    GnomeBus::call(
        bus, kRemoteDesktopService, path.c_str(), kProperties, "Get",
        [](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", kRemoteDesktopSessionInterface, "SessionId");
        },
        [this, bus](sd_bus_message* reply, const std::string& error) {
            const char* id = nullptr;
            if (!reply || sd_bus_message_read(reply, "v", "s", &id) < 0 || !id) {
                answer(bus, false, "no SessionId: " + error);
                return;
            }
            sessionId_ = id;
            answer(bus, true, {});
        });
}

void GnomeSession::createScreenCast(sd_bus* bus) {
    GnomeBus::call(
        bus, kScreenCastService, kScreenCastPath, kScreenCastInterface, "CreateSession",
        [this](sd_bus_message* m) {
            return sd_bus_message_append(m, "a{sv}", 2, "remote-desktop-session-id", "s",
                                         sessionId_.c_str(), "disable-animations", "b", 1);
        },
        [this, bus](sd_bus_message* reply, const std::string& error) {
            screenCastPath_ = readObjectPath(reply);
            answer(bus, !screenCastPath_.empty(), error);
        });
}

void GnomeSession::recordMonitor(sd_bus* bus) {
    GnomeBus::call(
        bus, kScreenCastService, screenCastPath_.c_str(), kScreenCastSessionInterface,
        "RecordMonitor",
        [](sd_bus_message* m) {
            // An empty connector records the primary monitor.
            return sd_bus_message_append(m, "sa{sv}", "", 1, "cursor-mode", "u",
                                         kCursorModeMetadata);
        },
        [this, bus](sd_bus_message* reply, const std::string& error) {
            const std::string path = readObjectPath(reply);
            if (path.empty()) {
                answer(bus, false, error);
                return;
            }
            {
                std::lock_guard lock(mutex_);
                stream_ = GnomeStreamInfo{path};
            }
            if (sd_bus_slot* slot =
                    GnomeBus::match(bus, nullptr, path.c_str(), kScreenCastStreamInterface,
                                    "PipeWireStreamAdded", [this, bus](sd_bus_message* m) {
                                        uint32_t node = 0;
                                        if (sd_bus_message_read(m, "u", &node) < 0)
                                            return;
                                        {
                                            std::lock_guard lock(mutex_);
                                            if (stream_)
                                                stream_->nodeId = node;
                                        }
                                        readStreamParameters(bus);
                                    }))
                ownSlots_.push_back(slot);
            answer(bus, true, {});
        });
}

void GnomeSession::readStreamParameters(sd_bus* bus) {
    const std::string path = [&] {
        std::lock_guard lock(mutex_);
        return stream_ ? stream_->streamPath : std::string();
    }();
    GnomeBus::call(
        bus, kScreenCastService, path.c_str(), kProperties, "Get",
        [](sd_bus_message* m) {
            return sd_bus_message_append(m, "ss", kScreenCastStreamInterface, "Parameters");
        },
        [this, bus](sd_bus_message* reply, const std::string&) {
            GnomeStreamInfo geometry;
            // Without its geometry the stream still runs; the size then
            // comes from the negotiated format.
            if (reply && gnomeReadStreamGeometry(reply, geometry)) {
                std::lock_guard lock(mutex_);
                if (stream_) {
                    stream_->x = geometry.x;
                    stream_->y = geometry.y;
                    stream_->width = geometry.width;
                    stream_->height = geometry.height;
                }
            }
            announceDevices(bus);
            apply(bus, state_.streamAdded(Clock::now()));
        });
}

// mutter 43 makes the session's virtual keyboard and pointer with their first
// event, and a Wayland client started while the seat has no keyboard never
// gets one (a headless desktop has no other). An event that does nothing
// (key code 0 is no key; a motion by nothing) makes both exist at open.
void GnomeSession::announceDevices(sd_bus* bus) {
    const std::string path = [&] {
        std::lock_guard lock(mutex_);
        return remoteDesktopPath_;
    }();
    auto ignore = [](sd_bus_message*, const std::string&) {};
    for (int down : {1, 0})
        GnomeBus::call(
            bus, kRemoteDesktopService, path.c_str(), kRemoteDesktopSessionInterface,
            "NotifyKeyboardKeycode",
            [down](sd_bus_message* m) { return sd_bus_message_append(m, "ub", 0u, down); }, ignore);
    GnomeBus::call(
        bus, kRemoteDesktopService, path.c_str(), kRemoteDesktopSessionInterface,
        "NotifyPointerMotionRelative",
        [](sd_bus_message* m) { return sd_bus_message_append(m, "dd", 0.0, 0.0); }, ignore);
}

bool GnomeSession::callSession(const char* member, BusAppender args, BusReply reply) {
    std::lock_guard lock(mutex_);
    if (!running_ || !bus_)
        return false;
    return bus_->post([this, name = std::string(member), args = std::move(args),
                       reply = std::move(reply)](sd_bus* b) mutable {
        std::string path;
        {
            std::lock_guard inner(mutex_);
            if (!running_)
                return;
            path = remoteDesktopPath_;
        }
        GnomeBus::call(
            b, kRemoteDesktopService, path.c_str(), kRemoteDesktopSessionInterface, name.c_str(),
            args, reply ? std::move(reply) : [](sd_bus_message*, const std::string&) {});
    });
}

uint64_t GnomeSession::subscribe(const char* member, BusSignal handler) {
    std::lock_guard lock(mutex_);
    if (!running_ || !bus_)
        return 0;
    const uint64_t id = nextId_++;
    bus_->post([this, id, name = std::string(member), handler = std::move(handler)](sd_bus* b) {
        std::string path;
        {
            std::lock_guard inner(mutex_);
            path = remoteDesktopPath_;
        }
        if (sd_bus_slot* slot = GnomeBus::match(
                b, nullptr, path.c_str(), kRemoteDesktopSessionInterface, name.c_str(), handler))
            subscribed_[id] = slot;
    });
    return id;
}

void GnomeSession::unsubscribe(uint64_t id) {
    std::lock_guard lock(mutex_);
    if (!bus_)
        return;
    bus_->post([this, id](sd_bus*) {
        if (auto it = subscribed_.find(id); it != subscribed_.end()) {
            sd_bus_slot_unref(it->second);
            subscribed_.erase(it);
        }
    });
}

uint64_t GnomeSession::addEndListener(std::function<void(const std::string&)> listener) {
    std::lock_guard lock(mutex_);
    const uint64_t id = nextId_++;
    endListeners_[id] = std::move(listener);
    return id;
}

void GnomeSession::removeEndListener(uint64_t id) {
    std::lock_guard lock(mutex_);
    endListeners_.erase(id);
}

} // namespace corvane::platform::gnome
