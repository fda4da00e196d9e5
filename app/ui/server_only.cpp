#include "app/ui/server_only.h"

#include <unistd.h>

#include <QPointer>

#include "app/core/launch_plan.h"
#include "app/core/server_cert.h"
#include "app/core/text_util.h"
#include "app/ui/supervision.h"

namespace corvane::app::ui {

ServerOnly::ServerOnly(Services services) : services_(std::move(services)) {}

ServerOnly::~ServerOnly() {
    stop();
}

void ServerOnly::start() {
    // A spent restart timer stays until the next schedule replaces it: this
    // may run inside its tick.
    if (task_ || finished_)
        return;
    if (services_.serverPath.empty() || ::access(services_.serverPath.c_str(), X_OK) != 0) {
        services_.log("Corvane Server not found" +
                      (services_.serverPath.empty() ? std::string()
                                                    : " at " + services_.serverPath) +
                      ". Reinstall Corvane.");
        finish(1);
        return;
    }
    LaunchPlan plan = buildLaunchPlan(currentSettings(*services_.defaults, services_.loadLogin),
                                      processEnvironment());
    if (ServerCert::removeIfNameless())
        services_.log("removed the server certificate without a name; the server makes a new "
                      "one (clients will ask to trust it once)");
    services_.log("starting Corvane Server: " + text::join(plan.arguments, " "));
    try {
        task_ = Spawn::start(services_.serverPath, plan.arguments, plan.environment,
                             services_.outputFd, services_.outputFd, false);
    } catch (const std::exception& error) {
        services_.log(std::string("Corvane Server could not start: ") + error.what());
        finish(1);
        return;
    }
    startedAt_ = services_.clock->now();
    QPointer<ServerOnly> weak(this);
    task_->setOnExit([weak](const std::shared_ptr<SpawnedProcess>& ended) {
        if (weak)
            weak->serverEnded(ended);
    });
}

void ServerOnly::serverEnded(const std::shared_ptr<SpawnedProcess>& process) {
    // stop() lets go of the process before ending it: not an end here.
    if (task_ != process)
        return;
    task_.reset();
    const int code = process->exitCode();
    services_.log("Corvane Server ended (code " + std::to_string(code) + ")");
    if (code == 0) {
        finish(0);
        return;
    }
    unexpectedEnds_ = unexpectedEndsAfter(unexpectedEnds_, services_.clock->now() - startedAt_);
    const double delay = serverRestartDelay(unexpectedEnds_);
    services_.log(restartLogLine(delay, unexpectedEnds_));
    QPointer<ServerOnly> weak(this);
    restartTimer_ = services_.clock->makeTimer();
    restartTimer_->start(delay, false, [weak] {
        if (weak)
            weak->start();
    });
}

void ServerOnly::stop() {
    restartTimer_.reset();
    if (!task_)
        return;
    std::shared_ptr<SpawnedProcess> process = std::move(task_);
    task_.reset();
    process->terminate();
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
