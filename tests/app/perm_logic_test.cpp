// The probe launch, the answer parser, repair plans and the summary sentence.
#include <gtest/gtest.h>

#include "app/core/perm_logic.h"

using namespace corvane::app;

// One line with any line ending; the last well-formed line wins (Unicode
// line separators, U+2028 and U+0085, split lines too); a malformed line
// gives no answer.
TEST(ParsePermProbe, TheLastWellFormedLineWins) {
    const PermStatus both{true, true}, screen{true, false}, input{false, true}, none{false, false};
    const std::pair<const char*, std::optional<PermStatus>> cases[] = {
        {"screen=1 input=1", both},
        {"screen=1 input=1\n", both},
        {"\r\nscreen=1 input=1\r\n", both},
        {"screen=1  input=1", both},
        {"screen=0 input=1", input},
        {"screen=0 input=1\nscreen=1 input=1\n", both},
        {"screen=1 input=0\nscreen=1 input=5\n", screen},
        {"[ERROR] log\nscreen=0 input=0\n[ERROR] more log\n", none},
        {"screen=0 input=0\xE2\x80\xA8screen=1 input=0", screen},
        {"screen=1 input=1\xC2\x85junk", both},
        {"", std::nullopt},
        {"screen=1\tinput=1", std::nullopt},
        {"screen=yes input=no", std::nullopt},
        {"screen=1 input=1 extra", std::nullopt},
        {"input=1 screen=1", std::nullopt},
        {"screen=01 input=1", std::nullopt},
        {"screen= input=1", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parsePermProbe(text), expected) << text;
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
