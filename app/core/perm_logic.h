// The permission probe protocol as the application sees it: how the probe is
// launched, how its one-line answer is read, what a repair must do and the
// sentence that explains the state to the user. All pure functions.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "app/core/launch_plan.h"

namespace corvane::app {

namespace PermConst {
inline constexpr const char* helperBundleID = "com.corvane.shadow";
inline constexpr const char* legacyBundleID = "com.corvane.app";
inline constexpr int probePort = 33895;
inline constexpr const char* screenService = "ScreenCapture";
inline constexpr const char* inputService = "Accessibility";
} // namespace PermConst

struct PermStatus {
    bool screen = false;
    bool input = false;

    bool allOK() const { return screen && input; }
    std::vector<std::string> missingServices() const;
    bool operator==(const PermStatus&) const = default;
};

struct PermRepairPlan {
    std::vector<std::string> resetServices;
    bool request = false;
    bool forgotten = false;

    bool operator==(const PermRepairPlan&) const = default;
};

struct ProbeLaunch {
    std::vector<std::string> arguments;
    Environment environment;
};

ProbeLaunch permProbeLaunch(const std::string& mode, const Environment& baseEnvironment);
// Seconds a probe run of `mode` may take.
double permProbeTimeout(const std::string& mode);
std::optional<PermStatus> parsePermProbe(const std::string& output);
PermRepairPlan permRepairPlan(const PermStatus& status, bool grantedBefore);
std::string permSummary(const std::optional<PermStatus>& status, bool forgotten);

} // namespace corvane::app
