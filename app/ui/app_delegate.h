// The application's delegate: keeps one server process alive, shows its
// state in the tray's menu and carries out the menu's commands. Everything
// runs on the main thread.
#pragma once
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/control_client.h"
#include "app/core/net_info.h"
#include "app/core/settings.h"
#include "app/core/user_defaults.h"
#include "app/ui/client_presence.h"
#include "app/ui/server_keeper.h"

namespace corvane::app {
class HelperPerms;
class SpawnedProcess;
class UsagePing;
} // namespace corvane::app

namespace corvane::app::ui {

class Clock;
class LoginItem;
class LoginStore;
class PermissionsController;
class PromptQueue;
class SessionsWindow;
class SettingsWindow;
class Timer;
class TrayMenu;
class TrayPresence;
struct MenuState;

class AppDelegate : public QObject {
  public:
    // What the delegate works with; every member has a production default
    // (see main.cpp) and tests replace the ones they need to control.
    struct Services {
        std::shared_ptr<UserDefaults> defaults;
        std::shared_ptr<HelperPerms> helperPerms;
        Clock* clock = nullptr;
        std::shared_ptr<LoginItem> loginItem;
        LoginStore* logins = nullptr;
        std::function<std::vector<Address>()> localAddresses;
        std::function<void(const std::string& path)> openFile;
        // Where a client's coming and going is told; null: the tray's
        // notifications.
        std::shared_ptr<Notifier> notifier;
        // Show the menu in the tray (or the small window); off in tests.
        bool showPresence = true;
    };

    explicit AppDelegate(Services services);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    // The menu (and its place in the tray); part of the start-up.
    void buildMenu();

    void startServer();
    void stopServer();
    void restartServer();
    void updateUI();

    // The menu's commands.
    void toggleServer();
    void openSessions();
    void toggleAutoStart();
    void toggleUsagePing();
    void toggleLogin();
    void showLog();
    void showConnectionLog();
    void quit();
    void openSettings();
    void checkPermissions();
    void repairPermissions();
    void testConnection();
    void copyDiagnostics();
    void usageTick();

    bool running() const;
    bool starting() const { return starting_; }
    const std::optional<std::string>& lastError() const { return lastError_; }
    int unexpectedEnds() const { return keeper_.unexpectedEnds(); }
    // The server's clients as its control channel tells them.
    ControlClient& control() { return control_; }
    bool restartPending() const;
    std::shared_ptr<SpawnedProcess> task() const { return keeper_.process(); }
    std::optional<std::string> cliPath() const;
    ServerSettings currentSettings() const;
    MenuState menuState() const;

    TrayMenu* menu() const { return menu_.get(); }
    SettingsWindow* settingsWindow() const { return settings_.get(); }
    SessionsWindow* sessionsWindow() const { return sessions_.get(); }
    // The windows asking about held clients.
    PromptQueue& prompts() { return *prompts_; }
    PermissionsController* permissions();

  private:
    void launchServer(const std::string& path);
    void serverEnded(const std::shared_ptr<SpawnedProcess>& process);
    void afterSettingsSaved();
    // The control channel's model changed: prompts, notices, then the menu
    // and icon.
    void sessionsChanged();
    void notify(const std::string& notice);

    Services services_;
    std::unique_ptr<PermissionsController> perms_;
    std::unique_ptr<TrayMenu> menu_;
    std::unique_ptr<TrayPresence> presence_;
    std::unique_ptr<SettingsWindow> settings_;
    std::unique_ptr<SessionsWindow> sessions_;
    std::unique_ptr<PromptQueue> prompts_;
    ServerKeeper keeper_;
    ControlClient control_;
    ClientWatch clientWatch_;
    std::optional<std::string> shownClients_; // the clients' line the menu last got
    bool starting_ = false;
    std::unique_ptr<Timer> usageTimer_;
    std::unique_ptr<Timer> statusLineTimer_;
    std::optional<std::string> lastError_;
    std::shared_ptr<UsagePing> usage_;
};

} // namespace corvane::app::ui
