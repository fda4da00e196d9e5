// The Linux build's texts speak of this computer, never of a Mac, and of
// the desktop the server really goes through: never of X on GNOME's Wayland.
#include <gtest/gtest.h>

#include <vector>

#include "app/core/words.h"
#include "app/core/words/words_linux.h"

using namespace corvane::app;

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
