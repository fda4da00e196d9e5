// What `corvane` is asked to do by its command line. Pure: the arguments in,
// the request and the texts out, so that main() only carries it out.
#pragma once
#include <string>
#include <vector>

namespace corvane::app {

enum class CommandMode {
    tray,            // the tray application (no option of ours)
    help,            // --help, -h
    version,         // --version, -v
    printLaunchPlan, // --print-launch-plan
    serverOnly,      // --server-only
    invalid,         // an unknown option, or more than one mode
};

struct CommandRequest {
    CommandMode mode = CommandMode::tray;
    // Why the command line was refused (invalid only).
    std::string error;
};

// `arguments` without the program name. Arguments with a single dash that
// are not ours (-platform, -session, ...) are left to Qt: the tray starts.
CommandRequest parseCommandLine(const std::vector<std::string>& arguments);

std::string commandHelpText(const std::string& version);
std::string commandVersionText(const std::string& version);

} // namespace corvane::app
