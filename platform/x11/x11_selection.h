// The CLIPBOARD selection's helper thread and its X connection (see
// x11_pasteboard.h). Public calls run on caller threads: they hand a job to
// the thread and wait a bounded time for its answer.
#pragma once
#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../pasteboard.h"

namespace corvane::platform::x11 {

class SelectionWorker {
  public:
    struct Reply {
        std::string type;               // the reply's type atom, by name
        std::vector<uint8_t> data;      // format 8 contents
        std::vector<std::string> atoms; // format 32 ATOM contents, by name
    };
    struct Owned {
        PasteboardType type;
        std::shared_ptr<const std::vector<uint8_t>> data;
    };

    explicit SelectionWorker(std::shared_ptr<std::atomic<int64_t>> count);
    ~SelectionWorker();
    SelectionWorker(const SelectionWorker&) = delete;
    SelectionWorker& operator=(const SelectionWorker&) = delete;

    // Opens the connection and starts the thread; false when X is not there.
    bool start();
    // False from the moment its connection is found lost (by the thread or
    // by a job it runs).
    bool alive() const { return running_.load() && !lost_.load(); }
    // Asks the selection's owner for one target; nothing when there is no
    // owner, it refuses, or it stops answering.
    std::optional<Reply> convert(const std::string& target);
    // Takes the selection with one item; true once this thread owns it and
    // the change is counted.
    bool own(PasteboardType type, std::vector<uint8_t> data);
    // What this thread serves now; nothing when another program owns it.
    std::optional<Owned> owned();

  private:
    struct Waiter;
    struct Conversion {
        uint64_t id = 0;
        Atom target = None;
        Atom property = None;
        bool incr = false;
        std::vector<uint8_t> data;
        Atom type = None;
        std::shared_ptr<Waiter> waiter;
    };
    struct Transfer { // an INCR send to another program
        Window requestor = None;
        Atom property = None;
        Atom type = None;
        std::shared_ptr<const std::vector<uint8_t>> data;
        size_t offset = 0;
        bool finished = false;
        std::chrono::steady_clock::time_point lastActivity;
    };

    void run();
    void post(std::function<void()> job);
    void runJobs();
    void handle(XEvent& event);
    void startConversion(Atom target, const std::shared_ptr<Waiter>& waiter, uint64_t id);
    void finishConversion(bool ok);
    void onSelectionNotify(const XSelectionEvent& event);
    void onPropertyNotify(const XPropertyEvent& event);
    void onSelectionRequest(const XSelectionRequestEvent& request);
    void onOwnerChange(XEvent& event);
    bool answerRequest(const XSelectionRequestEvent& request, Atom property);
    bool takeOwnership(PasteboardType type, std::vector<uint8_t> data);
    std::optional<Time> serverTime();
    void expireTransfers();
    Atom atom(const char* name);

    std::shared_ptr<std::atomic<int64_t>> count_;
    Display* display_ = nullptr;
    Window window_ = None;
    int fixesEventBase_ = 0;
    int wakeFd_ = -1;
    std::atomic<bool> lost_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::thread thread_;

    std::mutex jobsMutex_;
    std::deque<std::function<void()>> jobs_;

    // Thread state.
    std::optional<Conversion> pending_;
    std::list<Transfer> transfers_;
    size_t chunkBytes_ = 0;
    Time ownTime_ = CurrentTime;
    std::deque<Time> ownTimes_; // our latest ownership stamps, already counted
    std::atomic<uint64_t> nextId_{1};

    std::mutex ownedMutex_; // owned_ is read by callers
    std::optional<Owned> owned_;
};

} // namespace corvane::platform::x11
