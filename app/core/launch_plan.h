// The translation of the settings into the server's command line and
// environment. Pure: no state, no files.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "app/core/settings.h"

namespace corvane::app {

using Environment = std::map<std::string, std::string>;

struct LaunchPlan {
    std::vector<std::string> arguments;
    Environment environment;
};

inline constexpr int maxConnections = 5;

LaunchPlan buildLaunchPlan(const ServerSettings& settings, const Environment& baseEnvironment);

// Where the server's control channel listens (MAC_SHADOW_CONTROL): the
// environment's own value, else $XDG_RUNTIME_DIR/corvane/control; empty when
// there is no runtime folder. The plan passes it, so the application knows
// where to connect.
std::string controlSocketPath(const Environment& environment);

// The plan as one env(1) command a shell can run: "-u NAME" for each
// variable the plan takes away from `base`, NAME=value for each it sets or
// changes, then the server and its arguments, every word quoted for the
// shell, one per line. The stored Windows login (MAC_SHADOW_NLA) is a secret:
// it is left out, and a comment line above the command says so.
std::string launchPlanCommand(const LaunchPlan& plan, const Environment& base,
                              const std::string& serverPath);

// The environment of this process as a map.
Environment processEnvironment();

} // namespace corvane::app
