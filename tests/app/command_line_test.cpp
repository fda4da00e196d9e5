// What `corvane` makes of its command line, and the texts it prints.
#include <gtest/gtest.h>

#include <cstring>

#include "app/core/command_line.h"

using namespace corvane::app;
using Args = std::vector<std::string>;

TEST(CommandLine, ModesOptionsAndQtsOwn) {
    const struct {
        Args arguments;
        CommandMode mode;
    } cases[] = {
        {{}, CommandMode::tray},
        {{"--help"}, CommandMode::help},
        {{"-h"}, CommandMode::help},
        {{"--version"}, CommandMode::version},
        {{"-v"}, CommandMode::version},
        {{"--server-only"}, CommandMode::serverOnly},
        {{"--print-launch-plan"}, CommandMode::printLaunchPlan},
        {{"--server-only", "--server-only"}, CommandMode::serverOnly},
        // Qt's options, with their values, leave the tray to Qt.
        {{"-platform", "offscreen"}, CommandMode::tray},
        {{"-platform", "offscreen", "--server-only"}, CommandMode::serverOnly},
        {{"-session", "1234", "-reverse"}, CommandMode::tray},
        {{"--server-only", "--help"}, CommandMode::invalid},
        {{"--versoin"}, CommandMode::invalid},
        {{"--server-only=yes"}, CommandMode::invalid},
        {{"start"}, CommandMode::invalid},
        {{"--help", "extra"}, CommandMode::invalid},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& a : c.arguments)
            shown += a + " ";
        const CommandRequest request = parseCommandLine(c.arguments);
        EXPECT_EQ(request.mode, c.mode) << shown;
        EXPECT_EQ(request.error.empty(), c.mode != CommandMode::invalid) << shown;
    }
    EXPECT_EQ(parseCommandLine({"--versoin"}).error, "unknown option '--versoin'");
}

TEST(CommandLine, HelpNamesEveryOptionAndTheVersion) {
    const std::string help = commandHelpText("9.8.7");
    for (const char* option : {"--server-only", "--print-launch-plan", "--help", "-h",
                               "--version", "-v", "Corvane 9.8.7"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    for (const char* line = help.c_str(); *line;) {
        const char* end = std::strchr(line, '\n');
        ASSERT_NE(end, nullptr) << "the help ends with a line feed";
        EXPECT_LE(end - line, 80) << std::string(line, end);
        line = end + 1;
    }
    EXPECT_EQ(commandVersionText("9.8.7"), "corvane 9.8.7\n");
}
