// A clock that moves only when the test says so: every timer of the
// application fires in time order as `advance` passes its due time.
#pragma once
#include <algorithm>
#include <memory>
#include <vector>

#include "app/ui/clock.h"

namespace corvane::test {

class ManualClock : public app::ui::Clock {
  public:
    double now() const override { return now_; }

    std::unique_ptr<app::ui::Timer> makeTimer() override {
        auto entry = std::make_shared<Entry>();
        entries_.push_back(entry);
        return std::make_unique<ManualTimer>(*this, entry);
    }

    void advance(double seconds) {
        const double target = now_ + seconds;
        for (;;) {
            std::shared_ptr<Entry> next;
            for (auto& weak : entries_)
                if (auto entry = weak.lock(); entry && entry->active && entry->due <= target &&
                                              (!next || entry->due < next->due))
                    next = entry;
            if (!next)
                break;
            now_ = next->due;
            if (next->repeating)
                next->due += next->period;
            else
                next->active = false;
            auto tick = next->tick; // the tick may drop its timer
            tick();
        }
        now_ = target;
    }

    // Seconds until each active timer fires, soonest first.
    std::vector<double> pending() const {
        std::vector<double> left;
        for (auto& weak : entries_)
            if (auto entry = weak.lock(); entry && entry->active)
                left.push_back(entry->due - now_);
        std::sort(left.begin(), left.end());
        return left;
    }

  private:
    struct Entry {
        bool active = false;
        bool repeating = false;
        double due = 0;
        double period = 0;
        std::function<void()> tick;
    };
    class ManualTimer : public app::ui::Timer {
      public:
        ManualTimer(ManualClock& clock, std::shared_ptr<Entry> entry)
            : clock_(clock), entry_(std::move(entry)) {}
        ~ManualTimer() override { entry_->active = false; }
        void start(double seconds, bool repeating, std::function<void()> tick) override {
            entry_->active = true;
            entry_->repeating = repeating;
            entry_->period = seconds;
            entry_->due = clock_.now_ + seconds;
            entry_->tick = std::move(tick);
        }
        void stop() override { entry_->active = false; }
        bool isActive() const override { return entry_->active; }

      private:
        ManualClock& clock_;
        std::shared_ptr<Entry> entry_;
    };

    double now_ = 1000.0;
    std::vector<std::weak_ptr<Entry>> entries_;
};

} // namespace corvane::test
