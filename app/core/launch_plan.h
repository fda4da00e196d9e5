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

// The environment of this process as a map.
Environment processEnvironment();

} // namespace corvane::app
