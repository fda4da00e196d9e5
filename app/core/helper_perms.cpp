#include "app/core/helper_perms.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "app/core/app_log.h"
#include "app/core/launch_plan.h"
#include "app/core/main_queue.h"
#include "app/core/paths.h"
#include "app/core/spawn.h"
#include "platform/platform.h"

namespace corvane::app {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string probeLogLine(const std::string& mode, const std::optional<PermStatus>& answer) {
    std::string result = answer ? "screen=" + std::string(answer->screen ? "1" : "0") +
                                      " input=" + (answer->input ? "1" : "0")
                                : "no answer from the server";
    return "permission " + mode + ": " + result;
}

} // namespace

std::shared_ptr<HelperPerms> HelperPerms::create(std::shared_ptr<UserDefaults> defaults,
                                                 const std::string& applicationDirectory) {
    return std::shared_ptr<HelperPerms>(new HelperPerms(std::move(defaults), applicationDirectory));
}

std::shared_ptr<HelperPerms> HelperPerms::create(std::shared_ptr<UserDefaults> defaults) {
    return create(std::move(defaults), paths::applicationDirectory());
}

// The macOS helper bundle's counterpart here is the server executable in the
// server's folder (next to the application in a build folder).
HelperPerms::HelperPerms(std::shared_ptr<UserDefaults> defaults,
                         const std::string& applicationDirectory)
    : defaults_(std::move(defaults)) {
#ifdef __APPLE__
    std::string bundled = applicationDirectory + "/../Helpers/Corvane Server.app";
    std::string binaryInBundle = "/Contents/MacOS/freerdp-shadow-cli";
#else
    std::string bundled = paths::serverDirectoryFor(applicationDirectory) + "/freerdp-shadow-cli";
    std::string binaryInBundle;
#endif
    if (pathExists(bundled))
        helperApp_ = bundled;
    const char* override = std::getenv("TALVEN_CLI");
    if (override && *override)
        helperBinary_ = override;
    else if (helperApp_)
        helperBinary_ = *helperApp_ + binaryInBundle;
}

bool HelperPerms::grantedBefore() const {
    return defaults_->boolean(grantedOnceKey);
}

void HelperPerms::log(const std::string& message) {
    appendLogLine(message);
}

void HelperPerms::check(Completion completion) {
    probe("check", std::move(completion));
}

void HelperPerms::probe(const std::string& mode, Completion completion) {
    if (!helperBinary_ || !isExecutableFile(*helperBinary_)) {
        lastProbeFailed_ = true;
        postToMain([completion = std::move(completion)] {
            if (completion)
                completion(std::nullopt);
        });
        return;
    }
    std::weak_ptr<HelperPerms> weak = weak_from_this();
    std::string binary = *helperBinary_;
    queue_.async([weak, binary, mode, completion = std::move(completion)] {
        ProbeLaunch launch = permProbeLaunch(mode, processEnvironment());
        auto output =
            Spawn::output(binary, launch.arguments, launch.environment, permProbeTimeout(mode));
        std::optional<PermStatus> answer = output ? parsePermProbe(*output) : std::nullopt;
        postToMain([weak, mode, answer, completion] {
            if (auto self = weak.lock())
                self->finishProbe(mode, answer, completion);
        });
    });
}

void HelperPerms::finishProbe(const std::string& mode, const std::optional<PermStatus>& answer,
                              const Completion& completion) {
    lastProbeFailed_ = !answer;
    if (answer) {
        last_ = answer;
        if (answer->allOK()) {
            defaults_->set(grantedOnceKey, true);
            defaults_->sync();
        }
    }
    log(probeLogLine(mode, answer));
    if (completion)
        completion(answer);
}

void HelperPerms::repair(const PermRepairPlan& plan, Completion completion) {
    std::weak_ptr<HelperPerms> weak = weak_from_this();
    queue_.async([weak, plan, completion = std::move(completion)] {
        if (auto self = weak.lock())
            self->registerHelper();
        for (const std::string& service : plan.resetServices)
            privacyReset(service, PermConst::helperBundleID);
        postToMain([weak, plan, completion] {
            auto self = weak.lock();
            if (!self)
                return;
            if (plan.request)
                self->probe("request", completion);
            else if (completion)
                completion(self->last_);
        });
    });
}

void HelperPerms::cleanUpLegacyEntriesOnce() {
    if (defaults_->boolean(legacyResetKey))
        return;
    defaults_->set(legacyResetKey, true);
    defaults_->sync();
    queue_.async([] {
        privacyReset(PermConst::screenService, PermConst::legacyBundleID);
        privacyReset(PermConst::inputService, PermConst::legacyBundleID);
    });
}

// Making the helper known to the system is a Launch Services step on macOS;
// an executable on Linux needs no registration.
void HelperPerms::registerHelper() {}

// The platform forgets the recorded decision of one service for one
// application. The line keeps the shape of the macOS tool's report:
// "<tool> reset <service> <bundle>: exit <status> (<output>)".
void HelperPerms::privacyReset(const std::string& service, const std::string& bundleId) {
    std::string message;
    bool done = platform::current().privacy().reset(service, bundleId, message);
    std::string line = "privacy reset " + service + " " + bundleId + ": exit " + (done ? "0" : "1");
    if (!message.empty())
        line += " (" + message + ")";
    log(line);
}

} // namespace corvane::app
