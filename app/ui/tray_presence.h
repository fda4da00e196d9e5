// Where the menu lives: the desktop's system tray, or, when the desktop has
// none, a small window of its own, so that the application is never
// invisible.
#pragma once
#include <QPointer>
#include <QWidget>
#include <memory>

#include "app/ui/client_presence.h"

class QLabel;
class QMenu;
class QSystemTrayIcon;

namespace corvane::app::ui {

// The small window: the symbol, the state, and a button that opens the menu.
class FallbackWindow : public QWidget {
  public:
    explicit FallbackWindow(QMenu* menu);
    void setState(bool running, bool clients, const QString& statusLine);

  protected:
    // The user's close would leave the application without a face: it
    // shrinks instead.
    void closeEvent(QCloseEvent* event) override;

  private:
    QLabel* icon_;
    QLabel* status_;
};

// Also the desktop's notifications: QSystemTrayIcon's messages, which go
// through the freedesktop Notifications service on Linux.
class TrayPresence : public Notifier {
  public:
    // `useTray` false forces the window (a desktop without tray, tests).
    TrayPresence(QMenu* menu, bool useTray);
    ~TrayPresence() override;

    // `clients`: any client connected (the badge).
    void setState(bool running, bool clients, const QString& statusLine);
    // Without a tray there is nowhere to show it: the small window's status
    // line says it instead.
    void notify(const std::string& text) override;
    bool inTray() const { return tray_ != nullptr; }
    FallbackWindow* window() const { return window_.get(); }

  private:
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<FallbackWindow> window_;
    int look_ = -1; // running and badge, as last drawn
};

} // namespace corvane::app::ui
