// Corvane: the tray application that keeps the screen-sharing server running.
#include <QApplication>
#include <QTimer>

#include "app/core/helper_perms.h"
#include "app/core/user_defaults.h"
#include "app/ui/app_delegate.h"
#include "app/ui/login_item.h"
#include "app/ui/quit_signals.h"

using namespace corvane::app;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_APP_VERSION));
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
