// The Linux build's texts speak of this computer, never of a Mac.
#include <gtest/gtest.h>

#include "app/core/words.h"

using namespace corvane::app;

TEST(Words, NoLinuxTextNamesMacThings) {
    const char* const macThings[] = {"Mac",          "macOS",   "Cmd",
                                     "System Settings", "VideoToolbox", "Retina"};
    for (int w = 0; w <= static_cast<int>(Words::systemName); ++w) {
        const std::string text = words(static_cast<Words>(w));
        EXPECT_FALSE(text.empty()) << "text " << w;
        for (const char* thing : macThings)
            EXPECT_EQ(text.find(thing), std::string::npos) << "text " << w << ": " << text;
    }
}

TEST(Words, PlaceholdersAreFilledEverywhere) {
    EXPECT_EQ(fillWords("port {port}, again {port}", "port", "3389"), "port 3389, again 3389");
    EXPECT_EQ(fillWords("{list}", "list", "{list}"), "{list}"); // a value is not filled again
    EXPECT_EQ(fillWords("none here", "port", "1"), "none here");
}
