// Start-up, and keeping the server alive: start (after the permission check),
// launch, stop, and the restart after an unexpected end.
#include "app/ui/app_delegate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPointer>
#include <filesystem>

#include "app/core/app_log.h"
#include "app/core/helper_perms.h"
#include "app/core/launch_plan.h"
#include "app/core/paths.h"
#include "app/core/server_cert.h"
#include "app/core/spawn.h"
#include "app/core/system_info.h"
#include "app/core/text_util.h"
#include "app/core/usage_ping.h"
#include "app/core/words.h"
#include "app/ui/clock.h"
#include "app/ui/connect_prompt.h"
#include "app/ui/login_item.h"
#include "app/ui/login_store.h"
#include "app/ui/permissions_window.h"
#include "app/ui/sessions_window.h"
#include "app/ui/settings_window.h"
#include "app/ui/supervision.h"
#include "app/ui/tray_menu.h"
#include "app/ui/tray_presence.h"

namespace corvane::app::ui {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

} // namespace

AppDelegate::AppDelegate(Services services)
    : services_(std::move(services)), keeper_(services_.clock) {
    if (!services_.clock)
        services_.clock = &systemClock();
    if (!services_.logins)
        services_.logins = &systemLoginStore();
    if (!services_.localAddresses)
        services_.localAddresses = [] { return NetInfo::localAddresses(); };
    prompts_ = std::make_unique<PromptQueue>(
        *services_.clock,
        [this](uint64_t id, PromptAnswer answer) { return control_.answer(id, answer); },
        [this](const ControlPrompt& prompt) { notify(promptNotice(prompt)); });
    control_.onSessionsChanged = [this] { sessionsChanged(); };
    control_.onReply = [this](bool ok, const std::string& request, const std::string& message) {
        if (ok)
            return;
        HelperPerms::log("Corvane Server refused " + request + ": " + message);
        if (sessions_)
            sessions_->showError(message);
    };
}

AppDelegate::~AppDelegate() = default;

bool AppDelegate::running() const {
    return keeper_.process() && keeper_.process()->isRunning();
}

bool AppDelegate::restartPending() const {
    return keeper_.restartPending();
}

std::optional<std::string> AppDelegate::cliPath() const {
    return services_.helperPerms->helperBinary();
}

ServerSettings AppDelegate::currentSettings() const {
    LoginStore* logins = services_.logins;
    return app::currentSettings(*services_.defaults, [logins] { return logins->load(); });
}

PermissionsController* AppDelegate::permissions() {
    if (!perms_)
        perms_ = std::make_unique<PermissionsController>(services_.helperPerms, *services_.clock);
    return perms_.get();
}

void AppDelegate::applicationDidFinishLaunching() {
    // An accessory application: nothing but the tray (or its small window).
    registerSettingDefaults(*services_.defaults);
    // The tray's first start: someone is at the desktop to answer, so a new
    // user is asked before a client gets it. (The server-only mode has
    // nobody to ask and leaves the file alone.)
    if (storeNewFileDefaults(*services_.defaults))
        HelperPerms::log("new settings: Corvane asks before a client gets the desktop");
    removeLegacySecuritySetting(*services_.defaults);
    buildMenu();
    usage_ = UsagePing::create(machineIdentifier(), appVersion());
    updateUI();

    QPointer<AppDelegate> weak(this);
    usageTimer_ = services_.clock->makeTimer();
    usageTimer_->start(60.0, true, [weak] {
        if (weak)
            weak->usageTick();
        // The server's output goes into the log between the application's
        // own lines: its size is looked at every minute too.
        rotateLogIfLarge(paths::logPath());
    });

    services_.helperPerms->cleanUpLegacyEntriesOnce();
    int leftovers = Spawn::stopLeftovers();
    if (leftovers >= 1)
        HelperPerms::log("stopped " + std::to_string(leftovers) +
                         " Corvane Server left over from an earlier run (it held the port)");

    if (services_.defaults->boolean(Key::autoStart)) {
        startServer();
        return;
    }
    services_.helperPerms->check([weak](std::optional<PermStatus> answer) {
        if (!weak || !answer || answer->allOK())
            return;
        weak->permissions()->show(false, true, [weak] {
            if (weak)
                weak->startServer();
        });
    });
}

void AppDelegate::applicationWillTerminate() {
    stopServer();
}

void AppDelegate::startServer() {
    if (running() || starting_)
        return;
    std::optional<std::string> path = cliPath();
    if (!path || !isExecutableFile(*path)) {
        lastError_ = words(Words::serverMissing);
        updateUI();
        return;
    }
    starting_ = true;
    updateUI();
    QPointer<AppDelegate> weak(this);
    std::string cli = *path;
    services_.helperPerms->check([weak, cli](std::optional<PermStatus> answer) {
        if (!weak)
            return;
        weak->starting_ = false;
        if (!answer) {
            weak->lastError_ = "Corvane Server did not answer the permission check. See Show Log.";
            weak->updateUI();
        } else if (!answer->allOK()) {
            weak->updateUI();
            weak->permissions()->show(true, true, [weak] {
                if (weak)
                    weak->startServer();
            });
        } else {
            weak->launchServer(cli);
        }
    });
}

void AppDelegate::launchServer(const std::string& path) {
    if (running())
        return;
    ServerSettings settings = currentSettings();
    LaunchPlan plan = buildLaunchPlan(settings, processEnvironment());
    if (ServerCert::removeIfNameless())
        HelperPerms::log("removed the server certificate without a name; the server makes a new "
                         "one (clients will ask to trust it once)");
    rotateLogIfLarge(paths::logPath());
    int logFd = openLogForAppend(paths::logPath());
    if (logFd < 0)
        logFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    HelperPerms::log("starting Corvane Server: " + text::join(plan.arguments, " "));
    lastError_.reset();
    try {
        std::optional<int> out = logFd >= 0 ? std::optional<int>(logFd) : std::nullopt;
        auto process = Spawn::start(path, plan.arguments, plan.environment, out, out, true);
#ifdef __APPLE__
        // Only macOS attributes a child's permissions to its parent.
        if (!process->disclaimed())
            HelperPerms::log("warning: could not make Corvane Server responsible for itself; "
                             "macOS will ask about Corvane instead");
#endif
        // Noted so that a later run, should this one end without stopping
        // it, stops this server and no other.
        Spawn::recordServer(process->pid());
        QPointer<AppDelegate> weak(this);
        process->setOnExit([weak](const std::shared_ptr<SpawnedProcess>& ended) {
            Spawn::forgetServer(ended->pid());
            if (weak)
                weak->serverEnded(ended);
        });
        keeper_.adopt(process);
        // A new server, a new channel: connected once the server has made it.
        control_.connectTo(controlSocketPath(plan.environment));
    } catch (const std::exception& error) {
        lastError_ = error.what();
    }
    updateUI();
    if (logFd >= 0)
        ::close(logFd);
}

void AppDelegate::serverEnded(const std::shared_ptr<SpawnedProcess>& process) {
    // stopServer() lets go of the process before ending it: not an end here.
    if (!keeper_.release(process))
        return;
    int code = process->exitCode();
    HelperPerms::log("Corvane Server ended (code " + std::to_string(code) + ")");
    if (code == 0) {
        updateUI();
        return;
    }
    lastError_ = "Stopped unexpectedly (code " + std::to_string(code) + ")";
    QPointer<AppDelegate> weak(this);
    HelperPerms::log(keeper_.scheduleRestart([weak] {
        if (weak)
            weak->startServer();
    }));
    updateUI();
}

void AppDelegate::stopServer() {
    control_.stop();
    if (!keeper_.stop())
        return;
    HelperPerms::log("Corvane Server stopped");
    updateUI();
}

void AppDelegate::restartServer() {
    stopServer();
    startServer();
}

} // namespace corvane::app::ui
