// One D-Bus connection to the session bus, driven on its own thread. sd-bus
// is not thread-safe, so every use of the connection runs on that thread:
// other threads post tasks to it. Calls are asynchronous with a bounded
// wait; signal handlers and replies run on the bus thread.
#pragma once
#include <systemd/sd-bus.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane::platform::gnome {

// Appends a call's arguments; a negative errno stops the call.
using BusAppender = std::function<int(sd_bus_message* m)>;
// A call's answer: the reply, or null with the error text.
using BusReply = std::function<void(sd_bus_message* reply, const std::string& error)>;
using BusSignal = std::function<void(sd_bus_message* signal)>;

class GnomeBus {
  public:
    GnomeBus() = default;
    ~GnomeBus();
    GnomeBus(const GnomeBus&) = delete;
    GnomeBus& operator=(const GnomeBus&) = delete;

    // Connects to the session bus (DBUS_SESSION_BUS_ADDRESS) and starts the
    // thread. `lost` runs on the bus thread once if the connection breaks.
    bool open(std::function<void(const std::string& why)> lost, std::string& error);
    // Ends the thread and the connection; tasks not yet run are dropped.
    // Not from the bus thread.
    void close();

    // Runs `task` on the bus thread (false when the bus is not running).
    bool post(std::function<void(sd_bus*)> task);
    // Posts `task` to run once `at` has come (for the caller's deadlines).
    bool postAt(std::chrono::steady_clock::time_point at, std::function<void(sd_bus*)> task);
    bool onBusThread() const { return std::this_thread::get_id() == threadId_.load(); }

    // On the bus thread only.
    static void call(sd_bus* bus, const char* destination, const char* path, const char* interface,
                     const char* member, const BusAppender& append, BusReply reply,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // Subscribes to a signal; the returned slot ends the subscription when
    // unreferenced (sd_bus_slot_unref). Null on failure.
    static sd_bus_slot* match(sd_bus* bus, const char* sender, const char* path,
                              const char* interface, const char* member, BusSignal handler);
    // The same for a match rule of D-Bus's own syntax (for argument filters).
    static sd_bus_slot* matchRule(sd_bus* bus, const char* rule, BusSignal handler);

  private:
    struct Timed {
        std::chrono::steady_clock::time_point at;
        std::function<void(sd_bus*)> task;
    };
    void run();
    void runDue();
    int pollTimeoutMs();

    sd_bus* bus_ = nullptr;
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<std::thread::id> threadId_{};
    std::atomic<bool> quit_{false};
    std::function<void(const std::string&)> lost_;
    std::mutex mutex_; // guards tasks_, timed_, running_
    std::vector<std::function<void(sd_bus*)>> tasks_;
    std::vector<Timed> timed_;
    bool running_ = false;
};

// The text of an sd-bus error, or of the errno `r` when the error has none.
std::string busErrorText(const sd_bus_error* error, int r);

} // namespace corvane::platform::gnome
