// The window that guides the user through the server's two permissions. It
// shows each permission's state, repairs missing ones when asked, watches the
// state every two seconds while it is visible, opens the Accessibility pane
// by itself once Screen Recording has just been granted, and continues with
// `onReady` when the user (or, with autoContinue, the state) says so.
// Main thread only.
#pragma once
#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include "app/core/perm_logic.h"

class QLabel;
class QPushButton;

namespace corvane::app {
class HelperPerms;
}

namespace corvane::app::ui {

class Clock;
class Timer;

class PermissionsController;

// The window itself; its close button is the user's "not now".
class PermissionsWindow : public QDialog {
  public:
    static constexpr int kWidth = 540;
    static constexpr int kHeight = 330;

    explicit PermissionsWindow(PermissionsController& controller);

    QLabel *screenStatus, *inputStatus, *summary;
    QPushButton *screenButton, *inputButton, *repairButton, *startButton;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    PermissionsController& controller_;
};

class PermissionsController : public QObject {
  public:
    using Action = std::function<void()>;
    static constexpr double kWatchSeconds = 2.0;

    PermissionsController(std::shared_ptr<HelperPerms> perms, Clock& clock);
    ~PermissionsController() override;

    void show(bool autoContinue, bool repair, Action onReady);
    // Stops the watch and hides the window; the pending continuation is
    // dropped only by the user's close.
    void close();
    bool isVisible() const;

    PermissionsWindow* window() const { return window_.get(); }
    const std::optional<PermStatus>& status() const { return status_; }
    bool busy() const { return busy_; }
    bool checking() const { return checking_; }

    // The window's controls.
    void openScreen();
    void openInput();
    void repairAgain();
    void startNow();
    void windowWillClose();

  private:
    void watchTick();
    void runRepair(const PermStatus& status);
    void render();

    std::shared_ptr<HelperPerms> perms_;
    Clock& clock_;
    std::unique_ptr<PermissionsWindow> window_;
    std::unique_ptr<Timer> timer_;
    bool autoContinue_ = false;
    Action onReady_;
    std::optional<PermStatus> status_;
    bool forgotten_ = false;
    bool busy_ = false;
    bool checking_ = false;
    bool openedInputPane_ = false;
};

} // namespace corvane::app::ui
