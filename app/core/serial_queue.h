// A serial queue: jobs run one at a time, in order, on one background thread.
// A worker thread runs while jobs are waiting and holds the queue's state, so
// destroying the queue never blocks and never cuts off a queued job.
#pragma once
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace corvane::app {

class SerialQueue {
  public:
    explicit SerialQueue(std::string label);
    ~SerialQueue() = default;
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> job);
    const std::string& label() const { return label_; }

  private:
    struct State {
        std::mutex lock;
        std::deque<std::function<void()>> jobs;
        bool workerRunning = false;
    };
    static void work(std::shared_ptr<State> state, std::string label);

    std::string label_;
    std::shared_ptr<State> state_;
};

} // namespace corvane::app
