#include "app/ui/server_only.h"

#include <unistd.h>

#include <QPointer>

#include "app/core/launch_plan.h"
#include "app/core/server_cert.h"
#include "app/core/text_util.h"
#include "app/ui/supervision.h"

namespace corvane::app::ui {

namespace {

// The server asks over its channel and, with nobody there to answer, refuses.
constexpr const char* kNobodyToAsk =
    "\"When a client connects\" asks first, and without the tray application nobody is asked: "
    "clients are refused (with \"Ask me; let it in when nobody is at the desktop\", let in "
    "only while nobody is). Choose \"Let it in\" in Settings to serve clients without asking.";

} // namespace

ServerOnly::ServerOnly(Services services)
    : services_(std::move(services)), keeper_(services_.clock) {}

ServerOnly::~ServerOnly() {
    stop();
}

void ServerOnly::start() {
    // A spent restart timer stays until the next schedule replaces it: this
    // may run inside its tick.
    if (keeper_.process() || finished_)
        return;
    if (services_.serverPath.empty() || ::access(services_.serverPath.c_str(), X_OK) != 0) {
        services_.log(
            "Corvane Server not found" +
            (services_.serverPath.empty() ? std::string() : " at " + services_.serverPath) +
            ". Reinstall Corvane.");
        finish(1);
        return;
    }
    const ServerSettings settings = currentSettings(*services_.defaults, services_.loadLogin);
    if (settings.whenClientConnects != ConnectPolicy::allow)
        services_.log(kNobodyToAsk);
    LaunchPlan plan = buildLaunchPlan(settings, processEnvironment());
    if (ServerCert::removeIfNameless())
        services_.log("removed the server certificate without a name; the server makes a new "
                      "one (clients will ask to trust it once)");
    services_.log("starting Corvane Server: " + text::join(plan.arguments, " "));
    try {
        keeper_.adopt(Spawn::start(services_.serverPath, plan.arguments, plan.environment,
                                   services_.outputFd, services_.outputFd, false));
    } catch (const std::exception& error) {
        services_.log(std::string("Corvane Server could not start: ") + error.what());
        finish(1);
        return;
    }
    QPointer<ServerOnly> weak(this);
    keeper_.process()->setOnExit([weak](const std::shared_ptr<SpawnedProcess>& ended) {
        if (weak)
            weak->serverEnded(ended);
    });
}

void ServerOnly::serverEnded(const std::shared_ptr<SpawnedProcess>& process) {
    // stop() lets go of the process before ending it: not an end here.
    if (!keeper_.release(process))
        return;
    const int code = process->exitCode();
    services_.log("Corvane Server ended (code " + std::to_string(code) + ")");
    if (code == 0) {
        finish(0);
        return;
    }
    QPointer<ServerOnly> weak(this);
    services_.log(keeper_.scheduleRestart([weak] {
        if (weak)
            weak->start();
    }));
}

void ServerOnly::stop() {
    if (keeper_.stop())
        services_.log("Corvane Server stopped");
}

void ServerOnly::finish(int status) {
    if (finished_)
        return;
    finished_ = true;
    if (services_.finished)
        services_.finished(status);
}

} // namespace corvane::app::ui
