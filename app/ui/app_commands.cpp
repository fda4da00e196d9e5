// The menu: building it, refreshing it, and the commands that are not about
// starting and stopping the server.
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QPointer>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/core/app_log.h"
#include "app/core/diagnostics.h"
#include "app/core/helper_perms.h"
#include "app/core/main_queue.h"
#include "app/core/paths.h"
#include "app/core/system_info.h"
#include "app/core/text_util.h"
#include "app/core/usage_ping.h"
#include "app/core/words.h"
#include "app/ui/alerts.h"
#include "app/ui/app_delegate.h"
#include "app/ui/clock.h"
#include "app/ui/connect_prompt.h"
#include "app/ui/login_item.h"
#include "app/ui/permissions_window.h"
#include "app/ui/sessions_window.h"
#include "app/ui/settings_window.h"
#include "app/ui/supervision.h"
#include "app/ui/tray_menu.h"
#include "app/ui/tray_presence.h"

namespace corvane::app::ui {

void AppDelegate::buildMenu() {
    auto call = [this](void (AppDelegate::*command)()) {
        QPointer<AppDelegate> weak(this);
        return [weak, command] {
            if (weak)
                ((*weak).*command)();
        };
    };
    MenuHandlers handlers{
        call(&AppDelegate::toggleServer),
        call(&AppDelegate::openSessions),
        call(&AppDelegate::openSettings),
        call(&AppDelegate::toggleAutoStart),
        call(&AppDelegate::toggleUsagePing),
        call(&AppDelegate::toggleLogin),
        call(&AppDelegate::checkPermissions),
        call(&AppDelegate::repairPermissions),
        call(&AppDelegate::testConnection),
        call(&AppDelegate::showLog),
        call(&AppDelegate::showConnectionLog),
        call(&AppDelegate::copyDiagnostics),
        call(&AppDelegate::quit),
    };
    menu_ = std::make_unique<TrayMenu>(std::move(handlers));
    if (services_.showPresence)
        presence_ = std::make_unique<TrayPresence>(menu_->menu(), true);
}

void AppDelegate::sessionsChanged() {
    const std::vector<ControlSession>& sessions = control_.model().sessions();
    prompts_->update(control_.model().prompts());
    for (const std::string& notice : clientWatch_.update(sessions))
        notify(notice);
    if (sessions_)
        sessions_->update(sessions);
    // Most changes are a client's figures, once a second: the menu only
    // when what it says about the clients changed.
    std::optional<std::string> line = clientsLine(sessions);
    if (line == shownClients_)
        return;
    shownClients_ = std::move(line);
    updateUI();
}

void AppDelegate::notify(const std::string& notice) {
    HelperPerms::log(notice);
    Notifier* notifier = services_.notifier ? services_.notifier.get() : presence_.get();
    if (notifier)
        notifier->notify(notice);
}

void AppDelegate::openSessions() {
    if (!sessions_) {
        QPointer<AppDelegate> weak(this);
        SessionsActions actions;
        actions.setMode = [weak](uint64_t id, bool viewOnly) {
            return weak && weak->control_.setMode(id, viewOnly);
        };
        actions.disconnect = [weak](uint64_t id) {
            return weak && weak->control_.disconnectClient(id);
        };
        sessions_ = std::make_unique<SessionsWindow>(std::move(actions));
        sessions_->update(control_.model().sessions());
    }
    sessions_->show();
    sessions_->raise();
    sessions_->activateWindow();
}

MenuState AppDelegate::menuState() const {
    ServerView view;
    view.running = running();
    view.starting = starting_;
    view.lastError = lastError_;
    view.port = services_.defaults->integer(Key::port);
    const std::vector<ControlSession>& sessions = control_.model().sessions();
    if (view.running) {
        view.addresses = services_.localAddresses();
        view.clients = clientsLine(sessions);
    }
    MenuState state;
    state.statusLine = statusLineText(view);
    state.toggleTitle = toggleTitle(view);
    state.autoStart = services_.defaults->boolean(Key::autoStart);
    state.usagePing = services_.defaults->boolean(Key::usagePing);
    state.loginItem = services_.loginItem && services_.loginItem->enabled();
    state.clients = !sessions.empty();
    return state;
}

void AppDelegate::updateUI() {
    if (!menu_)
        return;
    MenuState state = menuState();
    menu_->apply(state);
    if (presence_)
        presence_->setState(running(), state.clients, QString::fromStdString(state.statusLine));
}

void AppDelegate::toggleServer() {
    if (running())
        stopServer();
    else
        startServer();
}

void AppDelegate::toggleAutoStart() {
    UserDefaults& d = *services_.defaults;
    d.set(Key::autoStart, !d.boolean(Key::autoStart));
    d.sync();
    updateUI();
}

void AppDelegate::toggleUsagePing() {
    UserDefaults& d = *services_.defaults;
    d.set(Key::usagePing, !d.boolean(Key::usagePing));
    d.sync();
    updateUI();
}

void AppDelegate::toggleLogin() {
    if (services_.loginItem) {
        std::string error;
        if (!services_.loginItem->setEnabled(!services_.loginItem->enabled(), error))
            runAlert(
                {QStringLiteral("Could not change the login item"), QString::fromStdString(error)});
    }
    updateUI();
}

void AppDelegate::showLog() {
    std::string path = paths::logPath();
    if (services_.openFile)
        services_.openFile(path);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

// The server makes the file at its first connection: an empty one opens in
// its place until then.
void AppDelegate::showConnectionLog() {
    const std::string path = paths::connectionLogPath();
    std::error_code error;
    if (!std::filesystem::exists(path, error) &&
        paths::makePrivateDirectories(std::filesystem::path(path).parent_path().string()))
        std::ofstream(path, std::ios::app).flush();
    if (services_.openFile)
        services_.openFile(path);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void AppDelegate::quit() {
    // The application's quit path stops the server (applicationWillTerminate).
    QCoreApplication::exit(0);
}

void AppDelegate::openSettings() {
    if (!settings_) {
        QPointer<AppDelegate> weak(this);
        settings_ = std::make_unique<SettingsWindow>(services_.defaults, *services_.logins, [weak] {
            if (weak)
                weak->afterSettingsSaved();
        });
    }
    settings_->open();
}

void AppDelegate::afterSettingsSaved() {
    if (running()) {
        stopServer();
        startServer();
    } else {
        updateUI();
    }
}

void AppDelegate::checkPermissions() {
    QPointer<AppDelegate> weak(this);
    permissions()->show(false, true, [weak] {
        if (weak)
            weak->startServer();
    });
}

void AppDelegate::repairPermissions() {
    bool wasRunning = running();
    stopServer();
    QPointer<AppDelegate> weak(this);
    permissions()->show(wasRunning, true, [weak] {
        if (weak)
            weak->startServer();
    });
}

void AppDelegate::testConnection() {
    int port = static_cast<int>(services_.defaults->integer(Key::port));
    std::vector<Address> addresses = services_.localAddresses();
    bool isRunning = running();
    bool opensAtLogin = services_.loginItem && services_.loginItem->enabled();
    QPointer<AppDelegate> weak(this);
    std::thread([=] {
        bool listening = false;
        std::optional<std::string> publicAddress;
        if (isRunning) {
            listening = NetInfo::canConnect("127.0.0.1", port);
            publicAddress = NetInfo::publicIP();
        }
        postToMain([=] {
            if (!weak)
                return;
            std::string report =
                NetInfo::report(port, isRunning, addresses, listening, publicAddress, opensAtLogin);
            int chosen = runAlert({QStringLiteral("Test Connection"),
                                   QString::fromStdString(report),
                                   {QStringLiteral("OK"), QStringLiteral("Copy Address")}});
            if (chosen == 1 && !addresses.empty())
                QGuiApplication::clipboard()->setText(
                    QString::fromStdString(addresses.front().ip + ":" + std::to_string(port)));
        });
    }).detach();
}

void AppDelegate::copyDiagnostics() {
    QPointer<AppDelegate> weak(this);
    services_.helperPerms->check([weak](std::optional<PermStatus> answer) {
        if (!weak)
            return;
        AppDelegate& self = *weak;
        std::string log = text::readFile(paths::logPath()).value_or("");
        std::vector<Diagnostics::Permission> permissions;
        if (answer) {
            permissions = {
                {std::string("Corvane Server ") + words(Words::screenAccess), answer->screen},
                {std::string("Corvane Server ") + words(Words::inputAccess), answer->input}};
        } else {
            permissions = {{"check (Corvane Server did not answer)", false}};
        }
        std::string report = Diagnostics::build(appVersion(), osVersionString(), hardwareModel(),
                                                self.currentSettings(), self.running(), permissions,
                                                self.services_.localAddresses(), log);
        QGuiApplication::clipboard()->setText(QString::fromStdString(report));
        if (self.menu_)
            self.menu_->setStatusLine("Diagnostics copied. Paste them into your email.");
        if (self.presence_)
            self.presence_->setState(
                self.running(), !self.control_.model().sessions().empty(),
                QStringLiteral("Diagnostics copied. Paste them into your email."));
        self.statusLineTimer_ = self.services_.clock->makeTimer();
        self.statusLineTimer_->start(4.0, false, [weak] {
            if (weak)
                weak->updateUI();
        });
    });
}

void AppDelegate::usageTick() {
    runUsageTick(usage_, *services_.defaults, running(), paths::statsPath(), serviceBase());
}

} // namespace corvane::app::ui
