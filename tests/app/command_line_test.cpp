// What `corvane` makes of its command line, and the texts it prints: the
// Linux build's speak of this computer, never of a Mac, and of the desktop
// the server really goes through (never of X on GNOME's Wayland).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/core/command_line.h"
#include "app/core/words.h"
#include "app/core/words/words_linux.h"

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
    for (const char* option : {"--server-only", "--print-launch-plan", "--help", "-h", "--version",
                               "-v", "Corvane 9.8.7"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    for (const char* line = help.c_str(); *line;) {
        const char* end = std::strchr(line, '\n');
        ASSERT_NE(end, nullptr) << "the help ends with a line feed";
        EXPECT_LE(end - line, 80) << std::string(line, end);
        line = end + 1;
    }
    EXPECT_EQ(commandVersionText("9.8.7"), "corvane 9.8.7\n");
}

TEST(Words, LinuxTextsNameOnlyTheirOwnDesktop) {
    const std::vector<const char*> macThings = {"Mac",          "macOS", "Cmd", "System Settings",
                                                "VideoToolbox", "Retina"};
    struct Case {
        LinuxDesktop desktop;
        std::vector<const char*> foreign;
    };
    const Case cases[] = {
        {LinuxDesktop::x11, {"GNOME", "screen-cast", "Wayland"}},
        {LinuxDesktop::gnome,
         {"X server", "XTest", "display cannot be opened", "open the display"}},
    };
    for (const Case& c : cases)
        for (int w = 0; w <= static_cast<int>(Words::systemName); ++w) {
            const std::string text = linuxWords(static_cast<Words>(w), c.desktop);
            EXPECT_FALSE(text.empty()) << "text " << w;
            for (const std::vector<const char*>* things : {&macThings, &c.foreign})
                for (const char* thing : *things)
                    EXPECT_EQ(text.find(thing), std::string::npos) << "text " << w << ": " << text;
        }
}

TEST(Words, PlaceholdersAreFilledEverywhere) {
    EXPECT_EQ(fillWords("port {port}, again {port}", "port", "3389"), "port 3389, again 3389");
    EXPECT_EQ(fillWords("{list}", "list", "{list}"), "{list}"); // a value is not filled again
    EXPECT_EQ(fillWords("none here", "port", "1"), "none here");
}
