// Answers the application's alerts in tests and keeps what they said.
#pragma once
#include <vector>

#include "app/ui/alerts.h"

namespace corvane::test {

class AlertRecorder {
  public:
    explicit AlertRecorder(int answer = 0) {
        previous_ = app::ui::setAlertRunner([this, answer](const app::ui::Alert& alert) {
            alerts.push_back(alert);
            return answer;
        });
    }
    ~AlertRecorder() { app::ui::setAlertRunner(previous_); }
    std::vector<app::ui::Alert> alerts;

  private:
    app::ui::AlertRunner previous_;
};

} // namespace corvane::test
