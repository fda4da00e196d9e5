// The question to the person at the desktop when a client has logged in and
// the server holds it: who it is (account, address, how it logged in), the
// buttons Allow, View only and Refuse, and the server's countdown. The
// countdown is only shown: the server's own clock decides, and its
// `prompt-closed` closes the window, whether the answer came from here, from
// elsewhere, from the timeout or from the client leaving.
//
// Several prompts at once stand in a queue: one window at a time, in the
// order they came, the next once the first is closed.
#pragma once
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/core/control_client.h"

class QLabel;
class QPushButton;

namespace corvane::app::ui {

class Clock;
class Timer;

// Sends an answer; false when it could not be sent (no channel).
using PromptAnswerSender = std::function<bool(uint64_t id, PromptAnswer answer)>;

class ConnectPrompt : public QWidget {
  public:
    // The countdown starts now, on `clock`, from the prompt's timeout.
    ConnectPrompt(const ControlPrompt& prompt, Clock& clock, PromptAnswerSender send);
    ~ConnectPrompt() override;

    uint64_t id() const { return prompt_.id; }
    // Shown in the middle of the screen, above other windows, without taking
    // the keyboard from whatever the person is typing into.
    void present();
    // The prompt is over: no more ticks, hidden.
    void finish();

    QLabel* heading;
    QLabel* account;
    QLabel* address;
    QLabel* login;
    QLabel* countdown;
    QLabel* note;
    QPushButton *allowButton, *viewOnlyButton, *refuseButton;

  protected:
    // Only an answer or the server ends the question.
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void build();
    void tick();
    void answer(PromptAnswer answer);

    ControlPrompt prompt_;
    Clock& clock_;
    PromptAnswerSender send_;
    double deadline_;
    std::unique_ptr<Timer> timer_;
};

// The windows of the open prompts, following the control channel's list.
class PromptQueue {
  public:
    // `arrived` is told of each new prompt once (the notification).
    PromptQueue(Clock& clock, PromptAnswerSender send,
                std::function<void(const ControlPrompt&)> arrived);
    ~PromptQueue();

    // The open prompts as the channel lists them, oldest first: windows of
    // closed ones go, new ones join the end, the first is shown.
    void update(const std::vector<ControlPrompt>& open);

    // The window shown (the oldest open prompt), or null.
    ConnectPrompt* shown() const;
    size_t size() const { return windows_.size(); }

  private:
    struct Finish {
        void operator()(ConnectPrompt* window) const;
    };

    Clock& clock_;
    PromptAnswerSender send_;
    std::function<void(const ControlPrompt&)> arrived_;
    std::vector<std::unique_ptr<ConnectPrompt, Finish>> windows_;
};

} // namespace corvane::app::ui
