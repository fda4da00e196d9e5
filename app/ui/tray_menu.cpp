#include "app/ui/tray_menu.h"

namespace corvane::app::ui {

QAction* TrayMenu::add(const char* text, std::function<void()> handler) {
    QAction* action = menu_.addAction(QString::fromUtf8(text));
    QObject::connect(action, &QAction::triggered, &menu_, [handler = std::move(handler)] {
        if (handler)
            handler();
    });
    return action;
}

TrayMenu::TrayMenu(MenuHandlers handlers) : handlers_(std::move(handlers)) {
    const MenuHandlers& h = handlers_;
    statusLine_ = menu_.addAction(QStringLiteral("Stopped"));
    statusLine_->setEnabled(false);
    toggle_ = add("Start Server", h.toggleServer);
    add("Sessions\u2026", h.openSessions);
    menu_.addSeparator();
    QAction* settings = add("Settings\u2026", h.openSettings);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    // "Check for Updates…" has no update checker behind it here: left out.
    autoItem_ = add("Start Server When Corvane Opens", h.toggleAutoStart);
    pingItem_ = add("Send Usage Pings", h.toggleUsagePing);
    loginItem_ = add("Open Corvane at Login", h.toggleLogin);
    for (QAction* item : {autoItem_, pingItem_, loginItem_})
        item->setCheckable(true);
    menu_.addSeparator();
    add("Check Permissions\u2026", h.checkPermissions);
    add("Repair Permissions", h.repairPermissions);
    add("Test Connection\u2026", h.testConnection);
    add("Show Log", h.showLog);
    add("Show Connection Log\u2026", h.showConnectionLog);
    add("Copy Diagnostics", h.copyDiagnostics);
    menu_.addSeparator();
    QAction* quit = add("Quit Corvane", h.quit);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    for (QAction* action : menu_.actions())
        action->setShortcutVisibleInContextMenu(true);
}

void TrayMenu::apply(const MenuState& state) {
    statusLine_->setText(QString::fromStdString(state.statusLine));
    toggle_->setText(QString::fromStdString(state.toggleTitle));
    // Toggling a checkable action also flips its check mark: the stored
    // value decides, so it is set back every time.
    autoItem_->setChecked(state.autoStart);
    pingItem_->setChecked(state.usagePing);
    loginItem_->setChecked(state.loginItem);
}

void TrayMenu::setStatusLine(const std::string& text) {
    statusLine_->setText(QString::fromStdString(text));
}

} // namespace corvane::app::ui
