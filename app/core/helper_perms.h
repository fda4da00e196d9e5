// The application's permission manager: finds the server executable, runs
// the permission probe in the background, remembers the last answer, repairs
// missing permissions and writes the application's log lines. Completions
// run on the main thread; queued work holds the manager weakly.
#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/core/perm_logic.h"
#include "app/core/serial_queue.h"
#include "app/core/user_defaults.h"

namespace corvane::app {

class HelperPerms : public std::enable_shared_from_this<HelperPerms> {
  public:
    using Completion = std::function<void(std::optional<PermStatus>)>;

    static constexpr const char* grantedOnceKey = "helperPermsGrantedOnce";
    static constexpr const char* legacyResetKey = "legacyAppPermsReset";
    static constexpr const char* screenURL =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";
    static constexpr const char* inputURL =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";

    // The server is looked for in the server's folder of an application in
    // `applicationDirectory` (paths::serverDirectoryFor); TALVEN_CLI
    // overrides the executable.
    static std::shared_ptr<HelperPerms> create(std::shared_ptr<UserDefaults> defaults,
                                               const std::string& applicationDirectory);
    static std::shared_ptr<HelperPerms> create(std::shared_ptr<UserDefaults> defaults);

    const std::optional<std::string>& helperApp() const { return helperApp_; }
    const std::optional<std::string>& helperBinary() const { return helperBinary_; }
    const std::optional<PermStatus>& last() const { return last_; }
    bool lastProbeFailed() const { return lastProbeFailed_; }
    bool grantedBefore() const;

    void check(Completion completion);
    void repair(const PermRepairPlan& plan, Completion completion);
    void cleanUpLegacyEntriesOnce();

    // Appends one application line to the log file.
    static void log(const std::string& message);

  private:
    HelperPerms(std::shared_ptr<UserDefaults> defaults, const std::string& applicationDirectory);
    void probe(const std::string& mode, Completion completion);
    void finishProbe(const std::string& mode, const std::optional<PermStatus>& answer,
                     const Completion& completion);
    void registerHelper();
    static void privacyReset(const std::string& service, const std::string& bundleId);

    std::shared_ptr<UserDefaults> defaults_;
    std::optional<std::string> helperApp_;
    std::optional<std::string> helperBinary_;
    SerialQueue queue_{"corvane.perms"};
    std::optional<PermStatus> last_;
    bool lastProbeFailed_ = false;
};

} // namespace corvane::app
