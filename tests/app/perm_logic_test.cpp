// The probe launch, the answer parser, repair plans and the summary sentence.
#include <gtest/gtest.h>

#include "app/core/perm_logic.h"

using namespace corvane::app;

TEST(ParsePermProbe, OneLineWithAnyLineEnding) {
    PermStatus both{true, true};
    EXPECT_EQ(parsePermProbe("screen=1 input=1"), both);
    EXPECT_EQ(parsePermProbe("screen=1 input=1\n"), both);
    EXPECT_EQ(parsePermProbe("\r\nscreen=1 input=1\r\n"), both);
    EXPECT_EQ(parsePermProbe("screen=1  input=1"), both) << "two spaces";
    EXPECT_EQ(parsePermProbe("screen=0 input=1"), (PermStatus{false, true}));
}

TEST(ParsePermProbe, LastWellFormedLineWins) {
    EXPECT_EQ(parsePermProbe("screen=0 input=1\nscreen=1 input=1\n"), (PermStatus{true, true}));
    EXPECT_EQ(parsePermProbe("screen=1 input=0\nscreen=1 input=5\n"), (PermStatus{true, false}));
    EXPECT_EQ(parsePermProbe("[ERROR] log\nscreen=0 input=0\n[ERROR] more log\n"),
              (PermStatus{false, false}));
    // Unicode line separators split lines too (U+2028, U+0085).
    EXPECT_EQ(parsePermProbe("screen=0 input=0\xE2\x80\xA8screen=1 input=0"),
              (PermStatus{true, false}));
    EXPECT_EQ(parsePermProbe("screen=1 input=1\xC2\x85junk"), (PermStatus{true, true}));
}

TEST(ParsePermProbe, MalformedLinesGiveNoAnswer) {
    EXPECT_EQ(parsePermProbe(""), std::nullopt);
    EXPECT_EQ(parsePermProbe("screen=1\tinput=1"), std::nullopt);
    EXPECT_EQ(parsePermProbe("screen=yes input=no"), std::nullopt);
    EXPECT_EQ(parsePermProbe("screen=1 input=1 extra"), std::nullopt);
    EXPECT_EQ(parsePermProbe("input=1 screen=1"), std::nullopt);
    EXPECT_EQ(parsePermProbe("screen=01 input=1"), std::nullopt);
    EXPECT_EQ(parsePermProbe("screen= input=1"), std::nullopt);
}

TEST(PermRepairPlan, ResetsOnlyWhatIsMissingInServiceOrder) {
    EXPECT_EQ(permRepairPlan({true, false}, true), (PermRepairPlan{{"Accessibility"}, true, true}));
    EXPECT_EQ(permRepairPlan({false, false}, false),
              (PermRepairPlan{{"ScreenCapture", "Accessibility"}, true, false}));
    EXPECT_EQ(permRepairPlan({false, true}, false),
              (PermRepairPlan{{"ScreenCapture"}, true, false}));
    EXPECT_EQ(permRepairPlan({true, true}, true), PermRepairPlan{});
    EXPECT_EQ(permRepairPlan({true, true}, false), PermRepairPlan{});
}

TEST(PermSummary, SentencesForEveryState) {
    EXPECT_EQ(permSummary(std::nullopt, false), "Checking with Corvane Server\u2026");
    EXPECT_EQ(permSummary(PermStatus{true, true}, true), "Everything is allowed.");
    // On X11 nothing is switched on in a list: the summary says what is wrong.
    EXPECT_EQ(permSummary(PermStatus{false, false}, false),
              "Corvane Server cannot work here: the display cannot be opened or read and the X "
              "server has no XTest extension.  Start Corvane inside your desktop session; this "
              "window updates by itself.");
    EXPECT_EQ(permSummary(PermStatus{true, false}, true),
              "Corvane Server cannot work here: the X server has no XTest extension.  Start "
              "Corvane inside your desktop session; this window updates by itself.");
}
