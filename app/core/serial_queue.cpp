#include "app/core/serial_queue.h"

#include <pthread.h>

#include <thread>

namespace corvane::app {

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {}

void SerialQueue::async(std::function<void()> job) {
    std::lock_guard guard(state_->lock);
    state_->jobs.push_back(std::move(job));
    if (!state_->workerRunning) {
        state_->workerRunning = true;
        std::thread(work, state_, label_).detach();
    }
}

// The worker ends when the queue is empty; the next job starts a new one.
void SerialQueue::work(std::shared_ptr<State> state, std::string label) {
    pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
    for (;;) {
        std::function<void()> job;
        {
            std::lock_guard guard(state->lock);
            if (state->jobs.empty()) {
                state->workerRunning = false;
                return;
            }
            job = std::move(state->jobs.front());
            state->jobs.pop_front();
        }
        job();
    }
}

} // namespace corvane::app
