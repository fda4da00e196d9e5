// Corvane: the tray application that keeps the screen-sharing server running.
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "app/core/command_line.h"
#include "app/core/helper_perms.h"
#include "app/core/launch_plan.h"
#include "app/core/settings.h"
#include "app/core/user_defaults.h"
#include "app/ui/app_delegate.h"
#include "app/ui/clock.h"
#include "app/ui/login_item.h"
#include "app/ui/login_store.h"
#include "app/ui/quit_signals.h"
#include "app/ui/server_only.h"

using namespace corvane::app;

namespace {

void nameApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_APP_VERSION));
}

// The settings as the tray reads them before a server start.
std::shared_ptr<UserDefaults> serverDefaults() {
    auto defaults = std::make_shared<UserDefaults>();
    registerSettingDefaults(*defaults);
    removeLegacySecuritySetting(*defaults);
    return defaults;
}

std::string serverPath(const std::shared_ptr<UserDefaults>& defaults) {
    return HelperPerms::create(defaults)->helperBinary().value_or("");
}

int printLaunchPlan(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    nameApplication();
    auto defaults = serverDefaults();
    const Environment base = processEnvironment();
    ui::LoginStore& logins = ui::systemLoginStore();
    const LaunchPlan plan =
        buildLaunchPlan(currentSettings(*defaults, [&logins] { return logins.load(); }), base);
    std::fputs(launchPlanCommand(plan, base, serverPath(defaults)).c_str(), stdout);
    return 0;
}

int runServerOnly(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    nameApplication();
    ui::quitOnTerminationSignals();
    auto defaults = serverDefaults();
    ui::LoginStore& logins = ui::systemLoginStore();
    ui::ServerOnly::Services services;
    services.defaults = defaults;
    services.loadLogin = [&logins] { return logins.load(); };
    services.serverPath = serverPath(defaults);
    services.clock = &ui::systemClock();
    services.log = [](const std::string& line) {
        std::fprintf(stderr, "[Corvane app] %s\n", line.c_str());
        std::fflush(stderr);
    };
    services.finished = [](int status) { QCoreApplication::exit(status); };
    ui::ServerOnly supervisor(std::move(services));
    // A signal ends the event loop; the server is stopped before the exit.
    QObject::connect(&application, &QCoreApplication::aboutToQuit,
                     [&supervisor] { supervisor.stop(); });
    QTimer::singleShot(0, &supervisor, [&supervisor] { supervisor.start(); });
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    const CommandRequest request = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (request.mode) {
    case CommandMode::help:
        std::fputs(commandHelpText(CORVANE_APP_VERSION).c_str(), stdout);
        return 0;
    case CommandMode::version:
        std::fputs(commandVersionText(CORVANE_APP_VERSION).c_str(), stdout);
        return 0;
    case CommandMode::invalid:
        std::fprintf(stderr, "corvane: %s\nTry 'corvane --help'.\n", request.error.c_str());
        return 2;
    case CommandMode::printLaunchPlan:
        return printLaunchPlan(argc, argv);
    case CommandMode::serverOnly:
        return runServerOnly(argc, argv);
    case CommandMode::tray:
        break;
    }

    QApplication application(argc, argv);
    nameApplication();
    // Windows of ours belong to the installed desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.corvane.app"));
    // No main window: closing a window never ends the application.
    QApplication::setQuitOnLastWindowClosed(false);
    ui::quitOnTerminationSignals();

    auto defaults = std::make_shared<UserDefaults>();
    ui::AppDelegate::Services services;
    services.defaults = defaults;
    services.helperPerms = HelperPerms::create(defaults);
    services.loginItem = std::make_shared<ui::AutostartEntry>(
        ui::AutostartEntry::defaultEntryPath(), QApplication::applicationFilePath().toStdString());
    ui::AppDelegate delegate(std::move(services));

    // Quitting, from the menu or by a signal, stops the server first.
    QObject::connect(&application, &QCoreApplication::aboutToQuit,
                     [&delegate] { delegate.applicationWillTerminate(); });
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return QApplication::exec();
}
