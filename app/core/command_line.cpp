#include "app/core/command_line.h"

namespace corvane::app {

namespace {

struct Option {
    const char* longName;
    const char* shortName; // "" when there is none
    CommandMode mode;
    const char* help;
};

// Help texts: continuation lines are indented to the text column (23).
constexpr Option kOptions[] = {
    {"--server-only", "", CommandMode::serverOnly,
     "Run only the server, with the settings' launch plan,\n"
     "                       restarting it after unexpected ends as the tray does;\n"
     "                       no menus or windows (the corvane-server user unit)."},
    {"--print-launch-plan", "", CommandMode::printLaunchPlan,
     "Print the server's command line and environment that\n"
     "                       the settings give, as one env(1) command, and exit."},
    {"--help", "-h", CommandMode::help, "Print this help and exit."},
    {"--version", "-v", CommandMode::version, "Print the version and exit."},
};

const Option* findOption(const std::string& argument) {
    for (const Option& option : kOptions)
        if (argument == option.longName || (*option.shortName && argument == option.shortName))
            return &option;
    return nullptr;
}

} // namespace

CommandRequest parseCommandLine(const std::vector<std::string>& arguments) {
    CommandRequest request;
    bool qtValueMayFollow = false;
    for (const std::string& argument : arguments) {
        const bool afterQtOption = qtValueMayFollow;
        qtValueMayFollow = false;
        if (const Option* option = findOption(argument)) {
            if (request.mode != CommandMode::tray && request.mode != option->mode)
                return {CommandMode::invalid, "choose one of --server-only, "
                                              "--print-launch-plan, --help and --version"};
            request.mode = option->mode;
        } else if (argument.rfind("--", 0) == 0) {
            return {CommandMode::invalid, "unknown option '" + argument + "'"};
        } else if (!argument.empty() && argument.front() == '-') {
            qtValueMayFollow = true; // Qt's own, e.g. -platform offscreen
        } else if (!afterQtOption) {
            return {CommandMode::invalid, "unexpected argument '" + argument + "'"};
        }
    }
    return request;
}

std::string commandHelpText(const std::string& version) {
    std::string text = "Usage: corvane [OPTION]\n"
                       "Corvane " +
                       version +
                       ": share this desktop over RDP. Without an option, the tray\n"
                       "application starts and supervises the screen-sharing server.\n\nOptions:\n";
    for (const Option& option : kOptions) {
        std::string names = std::string("  ") + option.longName;
        if (*option.shortName)
            names += std::string(", ") + option.shortName;
        names.resize(23, ' ');
        text += names + option.help + "\n";
    }
    text += "\nSettings: $XDG_CONFIG_HOME/com.corvane.app.ini\n"
            "Log:      $XDG_STATE_HOME/Corvane/Corvane.log\n"
            "See corvane(1) and corvane-server(1).\n";
    return text;
}

std::string commandVersionText(const std::string& version) {
    return "corvane " + version + "\n";
}

} // namespace corvane::app
