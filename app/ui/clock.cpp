#include "app/ui/clock.h"

#include <QTimer>
#include <chrono>

namespace corvane::app::ui {

namespace {

class QtTimer : public Timer {
  public:
    QtTimer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            // The tick may restart or destroy this timer: run a copy.
            auto tick = tick_;
            if (tick)
                tick();
        });
    }
    void start(double seconds, bool repeating, std::function<void()> tick) override {
        tick_ = std::move(tick);
        timer_.setSingleShot(!repeating);
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.start(static_cast<int>(seconds * 1000.0));
    }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

  private:
    QTimer timer_;
    std::function<void()> tick_;
};

class SystemClock : public Clock {
  public:
    double now() const override {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }
    std::unique_ptr<Timer> makeTimer() override { return std::make_unique<QtTimer>(); }
};

} // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

} // namespace corvane::app::ui
