// Waiting, on the subsystem's clock, for an answer that comes on another
// thread: a compositor may answer late or never, so every wait has a limit,
// and an answer that comes after the waiter gave up is dropped where it
// arrives (whatever it carries is released there).
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "clock.h"

template <class T> class MacAwaited {
  public:
    // What the backend calls with the answer; safe to call at any time, also
    // after this object is gone.
    auto answer() {
        return [state = state_](T value) {
            std::unique_lock lock(state->mutex);
            if (state->abandoned)
                return; // `value` is released as this returns, outside the lock
            state->value = std::move(value);
        };
    }

    // The answer, or nothing when none came within limitMs.
    std::optional<T> wait(uint64_t limitMs) {
        const uint64_t end = mac_now_ms() + limitMs;
        for (;;) {
            {
                std::lock_guard lock(state_->mutex);
                if (state_->value || mac_now_ms() >= end) {
                    state_->abandoned = true;
                    return std::exchange(state_->value, std::nullopt);
                }
            }
            mac_sleep_ms(kPollMs);
        }
    }

  private:
    static constexpr uint32_t kPollMs = 5;
    struct State {
        std::mutex mutex;
        std::optional<T> value;
        bool abandoned = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};
