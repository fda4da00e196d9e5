// Where the menu lives: the desktop's system tray, or, when the desktop has
// none, a small window of its own, so that the application is never
// invisible.
#pragma once
#include <QPointer>
#include <QWidget>
#include <memory>

class QLabel;
class QMenu;
class QSystemTrayIcon;

namespace corvane::app::ui {

// The small window: the symbol, the state, and a button that opens the menu.
class FallbackWindow : public QWidget {
  public:
    explicit FallbackWindow(QMenu* menu);
    void setState(bool running, const QString& statusLine);

  protected:
    // The user's close would leave the application without a face: it
    // shrinks instead.
    void closeEvent(QCloseEvent* event) override;

  private:
    QLabel* icon_;
    QLabel* status_;
};

class TrayPresence {
  public:
    // `useTray` false forces the window (a desktop without tray, tests).
    TrayPresence(QMenu* menu, bool useTray);
    ~TrayPresence();

    void setState(bool running, const QString& statusLine);
    bool inTray() const { return tray_ != nullptr; }
    FallbackWindow* window() const { return window_.get(); }

  private:
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<FallbackWindow> window_;
    int tint_ = -1;
};

} // namespace corvane::app::ui
