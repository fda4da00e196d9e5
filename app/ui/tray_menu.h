// The tray's menu: the server's state on top, then the commands, in a fixed
// order with fixed texts. It only shows state and forwards choices.
#pragma once
#include <QMenu>
#include <functional>
#include <string>

namespace corvane::app::ui {

struct MenuHandlers {
    std::function<void()> toggleServer, openSessions, openSettings, toggleAutoStart, toggleUsagePing, toggleLogin,
        checkPermissions, repairPermissions, testConnection, showLog, showConnectionLog, copyDiagnostics, quit;
};

struct MenuState {
    std::string statusLine = "Stopped";
    std::string toggleTitle = "Start Server";
    bool autoStart = false;
    bool usagePing = false;
    bool loginItem = false;
    bool clients = false; // any client connected
};

class TrayMenu {
  public:
    explicit TrayMenu(MenuHandlers handlers);

    QMenu* menu() { return &menu_; }
    void apply(const MenuState& state);
    // Replaces only the status line (until the next apply).
    void setStatusLine(const std::string& text);

    QAction* statusLine() const { return statusLine_; }
    QAction* toggle() const { return toggle_; }
    QAction* autoItem() const { return autoItem_; }
    QAction* pingItem() const { return pingItem_; }
    QAction* loginItem() const { return loginItem_; }

  private:
    QAction* add(const char* text, std::function<void()> handler);

    MenuHandlers handlers_;
    QMenu menu_;
    QAction* statusLine_ = nullptr;
    QAction* toggle_ = nullptr;
    QAction* autoItem_ = nullptr;
    QAction* pingItem_ = nullptr;
    QAction* loginItem_ = nullptr;
};

} // namespace corvane::app::ui
