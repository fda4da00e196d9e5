#include "gnome_bus.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace corvane::platform::gnome {

namespace {

using Clock = std::chrono::steady_clock;

int onReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* reply = static_cast<BusReply*>(userdata);
    if (sd_bus_message_is_method_error(m, nullptr)) {
        const sd_bus_error* e = sd_bus_message_get_error(m);
        (*reply)(nullptr, busErrorText(e, sd_bus_message_get_errno(m)));
    } else {
        (*reply)(m, {});
    }
    return 1;
}

int onSignal(sd_bus_message* m, void* userdata, sd_bus_error*) {
    (*static_cast<BusSignal*>(userdata))(m);
    return 0; // other matches may want it too
}

template <typename T> void deleteUserdata(void* userdata) {
    delete static_cast<T*>(userdata);
}

} // namespace

std::string busErrorText(const sd_bus_error* error, int r) {
    if (error && error->message)
        return error->message;
    if (error && error->name)
        return error->name;
    return std::strerror(r < 0 ? -r : r);
}

GnomeBus::~GnomeBus() {
    close();
}

bool GnomeBus::open(std::function<void(const std::string&)> lost, std::string& error) {
    // sd_bus_open_user follows DBUS_SESSION_BUS_ADDRESS, as every client of
    // the session bus does.
    const int r = sd_bus_open_user(&bus_);
    if (r < 0) {
        bus_ = nullptr;
        error = std::string("the session bus cannot be reached: ") + std::strerror(-r);
        return false;
    }
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        sd_bus_flush_close_unref(bus_);
        bus_ = nullptr;
        error = "no wake-up descriptor for the bus thread";
        return false;
    }
    lost_ = std::move(lost);
    {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void GnomeBus::close() {
    if (!thread_.joinable())
        return;
    quit_.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        tasks_.clear();
        timed_.clear();
    }
    // Closing flushes what is queued (a Stop) before the connection goes;
    // mutter ends whatever sessions this connection still holds.
    sd_bus_flush_close_unref(bus_);
    bus_ = nullptr;
    ::close(wakeFd_);
    wakeFd_ = -1;
}

bool GnomeBus::post(std::function<void(sd_bus*)> task) {
    {
        std::lock_guard lock(mutex_);
        if (!running_)
            return false;
        tasks_.push_back(std::move(task));
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    return true;
}

bool GnomeBus::postAt(Clock::time_point at, std::function<void(sd_bus*)> task) {
    {
        std::lock_guard lock(mutex_);
        if (!running_)
            return false;
        timed_.push_back({at, std::move(task)});
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    return true;
}

void GnomeBus::call(sd_bus* bus, const char* destination, const char* path, const char* interface,
                    const char* member, const BusAppender& append, BusReply reply,
                    std::chrono::milliseconds timeout) {
    sd_bus_message* m = nullptr;
    int r = sd_bus_message_new_method_call(bus, &m, destination, path, interface, member);
    if (r >= 0 && append)
        r = append(m);
    auto* userdata = new BusReply(std::move(reply));
    sd_bus_slot* slot = nullptr;
    if (r >= 0)
        r = sd_bus_call_async(bus, &slot, m, onReply, userdata, uint64_t(timeout.count()) * 1000);
    sd_bus_message_unref(m);
    if (r < 0) {
        (*userdata)(nullptr, std::string(member) + ": " + std::strerror(-r));
        delete userdata;
        return;
    }
    // The slot floats: the bus frees it (and the reply function) once the
    // answer came, timed out or the connection closed.
    sd_bus_slot_set_destroy_callback(slot, deleteUserdata<BusReply>);
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
}

sd_bus_slot* GnomeBus::match(sd_bus* bus, const char* sender, const char* path,
                             const char* interface, const char* member, BusSignal handler) {
    auto* userdata = new BusSignal(std::move(handler));
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(bus, &slot, sender, path, interface, member, onSignal, userdata) < 0) {
        delete userdata;
        return nullptr;
    }
    sd_bus_slot_set_destroy_callback(slot, deleteUserdata<BusSignal>);
    return slot;
}

sd_bus_slot* GnomeBus::matchRule(sd_bus* bus, const char* rule, BusSignal handler) {
    auto* userdata = new BusSignal(std::move(handler));
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match(bus, &slot, rule, onSignal, userdata) < 0) {
        delete userdata;
        return nullptr;
    }
    sd_bus_slot_set_destroy_callback(slot, deleteUserdata<BusSignal>);
    return slot;
}

void GnomeBus::runDue() {
    std::vector<std::function<void(sd_bus*)>> now;
    {
        std::lock_guard lock(mutex_);
        now.swap(tasks_);
        const auto t = Clock::now();
        auto due = std::stable_partition(timed_.begin(), timed_.end(),
                                         [&](const Timed& x) { return x.at > t; });
        for (auto it = due; it != timed_.end(); ++it)
            now.push_back(std::move(it->task));
        timed_.erase(due, timed_.end());
    }
    for (auto& task : now)
        task(bus_);
}

int GnomeBus::pollTimeoutMs() {
    int64_t ms = -1;
    uint64_t usec = 0;
    if (sd_bus_get_timeout(bus_, &usec) >= 0 && usec != UINT64_MAX) {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const uint64_t nowUsec = uint64_t(ts.tv_sec) * 1000000 + uint64_t(ts.tv_nsec) / 1000;
        ms = usec > nowUsec ? int64_t((usec - nowUsec + 999) / 1000) : 0;
    }
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    for (const auto& t : timed_) {
        const int64_t left =
            std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(t.at - now).count());
        ms = ms < 0 ? left : std::min(ms, left);
    }
    return int(std::min<int64_t>(ms, 60000));
}

void GnomeBus::run() {
    threadId_.store(std::this_thread::get_id());
    std::string lostWhy;
    while (!quit_.load()) {
        runDue();
        int r = 0;
        while ((r = sd_bus_process(bus_, nullptr)) > 0) {
        }
        if (r < 0) {
            lostWhy = std::string("the session bus connection was lost: ") + std::strerror(-r);
            break;
        }
        pollfd fds[2] = {{sd_bus_get_fd(bus_), short(sd_bus_get_events(bus_)), 0},
                         {wakeFd_, POLLIN, 0}};
        ::poll(fds, 2, pollTimeoutMs());
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
        }
    }
    if (!lostWhy.empty()) {
        {
            std::lock_guard lock(mutex_);
            running_ = false;
        }
        if (lost_)
            lost_(lostWhy);
        // Stay until close(): the owner joins this thread.
        while (!quit_.load()) {
            pollfd fd{wakeFd_, POLLIN, 0};
            ::poll(&fd, 1, -1);
            uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
        }
    }
    threadId_.store({});
}

} // namespace corvane::platform::gnome
