// Prints how the application launches the server with its default settings,
// so that the benchmark runs "ours as shipped" from the same code the tray
// application uses rather than from a copy of its flags.
//
//   bench_launch_plan [--port N]
//
// One line per item: "arg VALUE" for each argument, "env NAME=VALUE" for each
// variable the plan sets. Login is off: the benchmark's client has no account.
#include "app/core/launch_plan.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    corvane::app::ServerSettings settings;
    settings.requireLogin = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--port")) {
            settings.port = std::atoi(argv[i + 1]);
        } else {
            std::fprintf(stderr, "launch_plan_print: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    const corvane::app::LaunchPlan plan = corvane::app::buildLaunchPlan(settings, {});
    for (const std::string& argument : plan.arguments)
        std::printf("arg %s\n", argument.c_str());
    for (const auto& [name, value] : plan.environment)
        std::printf("env %s=%s\n", name.c_str(), value.c_str());
    return 0;
}
