#include "app/ui/tray_presence.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>

#include "app/ui/tray_icon.h"

namespace corvane::app::ui {

FallbackWindow::FallbackWindow(QMenu* menu) {
    setWindowTitle(QStringLiteral("Corvane"));
    setWindowIcon(trayIcon(false));
    auto* layout = new QHBoxLayout(this);
    icon_ = new QLabel(this);
    icon_->setPixmap(trayIcon(false).pixmap(32, 32));
    status_ = new QLabel(QStringLiteral("Stopped"), this);
    status_->setMinimumWidth(200);
    auto* button = new QPushButton(QStringLiteral("Corvane"), this);
    button->setMenu(menu);
    layout->addWidget(icon_);
    layout->addWidget(status_, 1);
    layout->addWidget(button);
    // The menu's key equivalents work while this window has the focus.
    addActions(menu->actions());
}

void FallbackWindow::setState(bool running, bool clients, const QString& statusLine) {
    icon_->setPixmap(trayIcon(running, clients).pixmap(32, 32));
    status_->setText(statusLine);
}

void FallbackWindow::closeEvent(QCloseEvent* event) {
    if (!event->spontaneous()) {
        event->accept();
        return;
    }
    event->ignore();
    showMinimized();
}

TrayPresence::TrayPresence(QMenu* menu, bool useTray) {
    if (useTray && QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = std::make_unique<QSystemTrayIcon>();
        QIcon icon = trayIcon(false);
        tray_->setIcon(icon);
        // The tooltip names the application; without the symbol it is all
        // there is to see.
        tray_->setToolTip(icon.isNull() ? QStringLiteral("RDP") : QStringLiteral("Corvane"));
        tray_->setContextMenu(menu);
        // A left click opens the same menu.
        QObject::connect(tray_.get(), &QSystemTrayIcon::activated, menu,
                         [menu](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger)
                                 menu->popup(QCursor::pos());
                         });
        tray_->show();
        return;
    }
    window_ = std::make_unique<FallbackWindow>(menu);
    window_->show();
}

TrayPresence::~TrayPresence() = default;

void TrayPresence::setState(bool running, bool clients, const QString& statusLine) {
    const int look = int(running) | int(clients) << 1;
    if (window_)
        window_->setState(running, clients, statusLine);
    if (tray_) {
        if (look_ != look)
            tray_->setIcon(trayIcon(running, clients));
        tray_->setToolTip(QStringLiteral("Corvane: ") + statusLine);
    }
    look_ = look;
}

void TrayPresence::notify(const std::string& text) {
    if (tray_)
        tray_->showMessage(QStringLiteral("Corvane"), QString::fromStdString(text),
                           QSystemTrayIcon::Information);
}

} // namespace corvane::app::ui
