// Renders the tray menu, the settings window, the permissions window, the
// Test Connection alert, the Sessions window with two clients and the
// question about a client that logged in on a real X display (xcb) and
// saves each as a PNG:
//   corvane_screenshots <output folder>
// scripts/screenshots runs it on a private Xvfb.
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "app/core/helper_perms.h"
#include "app/core/net_info.h"
#include "app/core/settings.h"
#include "app/ui/alerts.h"
#include "app/ui/clock.h"
#include "app/ui/connect_prompt.h"
#include "app/ui/login_store.h"
#include "app/ui/permissions_window.h"
#include "app/ui/sessions_window.h"
#include "app/ui/settings_window.h"
#include "app/ui/tray_menu.h"

using namespace corvane::app;
using namespace corvane::app::ui;

namespace {

void settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// What the X server shows where the widget is.
bool save(QWidget* widget, const QString& path) {
    settle(400);
    QRect frame = widget->frameGeometry();
    QPixmap shot =
        widget->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    bool ok = shot.save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

class NoLogins : public LoginStore {
  public:
    std::optional<std::string> load() override { return std::nullopt; }
    bool save(const std::string&, const std::string&) override { return false; }
    bool rename(const std::string&) override { return false; }
    void clear() override {}
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: corvane_screenshots <output folder>\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir scratch;
    bool ok = true;

    // The menu while the server runs.
    TrayMenu tray({});
    tray.apply({"2 clients connected", "Stop Server", true, true, false, true});
    tray.menu()->popup(QPoint(10, 10));
    ok &= save(tray.menu(), out.filePath(QStringLiteral("menu.png")));
    tray.menu()->hide();

    // The settings window as a new user first sees it.
    auto defaults = std::make_shared<UserDefaults>(scratch.filePath(QStringLiteral("s.ini")));
    registerSettingDefaults(*defaults);
    storeNewFileDefaults(*defaults);
    NoLogins logins;
    SettingsWindow settings(defaults, logins, {});
    settings.open();
    ok &= save(&settings, out.filePath(QStringLiteral("settings.png")));
    settings.hide();

    // The permissions window with Screen Recording allowed and Accessibility
    // missing, as the sim privacy database and the real server's probe say.
    std::string db = scratch.filePath(QStringLiteral("privacy.db")).toStdString();
    FILE* file = std::fopen(db.c_str(), "w");
    if (file) {
        std::fputs("com.corvane.shadow ScreenCapture granted\n"
                   "com.corvane.shadow Accessibility denied\n",
                   file);
        std::fclose(file);
    }
    setenv("CORVANE_PLATFORM", "sim", 1);
    setenv("CORVANE_SIM_PRIVACY_DB", db.c_str(), 1);
    setenv("XDG_STATE_HOME", scratch.path().toLocal8Bit().constData(), 1);
    auto perms = HelperPerms::create(defaults);
    PermissionsController controller(perms, systemClock());
    controller.show(false, false, {});
    QElapsedTimer waited;
    waited.start();
    while (!controller.status() && waited.elapsed() < 20000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    ok &= controller.status().has_value();
    ok &= save(controller.window(), out.filePath(QStringLiteral("permissions.png")));
    controller.close();

    // The Test Connection alert for a running server on a home network.
    std::string report = NetInfo::report(3389, true, {{"eth0", "192.168.1.20"}}, true,
                                         std::string("203.0.113.7"), false);
    QMessageBox* box = makeAlertBox({QStringLiteral("Test Connection"),
                                     QString::fromStdString(report),
                                     {QStringLiteral("OK"), QStringLiteral("Copy Address")}});
    box->show();
    ok &= save(box, out.filePath(QStringLiteral("test-connection.png")));
    delete box;

    // The Sessions window with two clients, two minutes of figures each.
    ControlSessions sessions;
    const int64_t start = QDateTime::currentSecsSinceEpoch() - 600;
    sessions.apply(R"({"v":1,"type":"client-connecting","id":1,"address":"192.168.1.31",)"
                   R"("account":"alice","login":"password"})",
                   start);
    sessions.apply(R"({"v":1,"type":"client-ready","id":1,"mode":"control"})", start);
    sessions.apply(R"({"v":1,"type":"client-connecting","id":2,"address":"192.168.1.47",)"
                   R"("account":"bob","login":"nla"})",
                   start + 240);
    sessions.apply(R"({"v":1,"type":"client-ready","id":2,"mode":"view"})", start + 240);
    for (int64_t t = 0; t <= 120; ++t) {
        // A burst of work at the first client, a still screen at the second.
        const double busy = t > 40 && t < 80 ? 1.0 : 0.2;
        const std::string a = "{\"v\":1,\"type\":\"stats\",\"id\":1,\"codec\":\"h264\","
                              "\"width\":1920,\"height\":1080,\"fps\":" +
                              std::to_string(int(30 * busy)) +
                              ",\"kbps\":" + std::to_string(int(3500 * busy + (t % 7) * 40)) +
                              ",\"rtt_ms\":12}";
        const std::string b = "{\"v\":1,\"type\":\"stats\",\"id\":2,\"codec\":\"gfx\","
                              "\"width\":1440,\"height\":900,\"fps\":2,\"kbps\":" +
                              std::to_string(60 + (t % 5) * 8) + ",\"rtt_ms\":31}";
        sessions.apply(a, start + 480 + t);
        sessions.apply(b, start + 480 + t);
    }
    SessionsWindow window({});
    window.update(sessions.sessions());
    window.table->selectRow(0);
    window.show();
    ok &= save(&window, out.filePath(QStringLiteral("sessions.png")));
    window.hide();

    // The question when a client has logged in and waits.
    const ControlPrompt asking{3, "alice", "192.168.1.31", "password", 30, PromptAnswer::refuse};
    ConnectPrompt prompt(asking, systemClock(), {});
    prompt.present();
    ok &= save(&prompt, out.filePath(QStringLiteral("prompt.png")));
    return ok ? 0 : 1;
}
