// The environment contract: first-character flags, leading numbers, bounds.
#include <gtest/gtest.h>

#include "server/shadow/Mac/env.h"

using namespace mac_env;

TEST(EnvNumbers, LeadingIntegerTakesSignAndDigitsOnly) {
    EXPECT_EQ(leadingInt("42abc"), 42);
    EXPECT_EQ(leadingInt("+20"), 20);
    EXPECT_EQ(leadingInt("-7"), -7);
    EXPECT_EQ(leadingInt(" 20"), 0);
    EXPECT_EQ(leadingInt("abc"), 0);
    EXPECT_EQ(leadingInt(""), 0);
    EXPECT_EQ(leadingInt(nullptr), 0);
}

TEST(EnvNumbers, LeadingIntegerSaturatesAtEveryDigit) {
    const struct {
        const char* text;
        int64_t value;
    } cases[] = {
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", INT64_MAX}, // overflows only in the last digit
        {"9223372036854775810", INT64_MAX},
        {"99999999999999999999999", INT64_MAX},
        {"-9223372036854775807", -INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"-9223372036854775809", INT64_MIN},
        {"-99999999999999999999999", INT64_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(leadingInt(c.text), c.value) << c.text;
    EXPECT_EQ(fpsFrom("9223372036854775808"), 30);
}

TEST(EnvNumbers, LeadingDoubleTakesOptionalFraction) {
    EXPECT_DOUBLE_EQ(leadingDouble("0.75"), 0.75);
    EXPECT_DOUBLE_EQ(leadingDouble("1.0x"), 1.0);
    EXPECT_DOUBLE_EQ(leadingDouble(".5"), 0.5);
    EXPECT_DOUBLE_EQ(leadingDouble("-2.5"), -2.5);
    EXPECT_DOUBLE_EQ(leadingDouble("x1"), 0);
}

TEST(EnvFrameRate, OutOfRangeOrTextGivesThirty) {
    EXPECT_EQ(fpsFrom(nullptr), 30);
    EXPECT_EQ(fpsFrom("0"), 30);
    EXPECT_EQ(fpsFrom("61"), 30);
    EXPECT_EQ(fpsFrom("abc"), 30);
    EXPECT_EQ(fpsFrom(" 20"), 30);
    EXPECT_EQ(fpsFrom("+20"), 20);
    EXPECT_EQ(fpsFrom("60"), 60);
    EXPECT_EQ(fpsFrom("1"), 1);
}

TEST(EnvIdleWindow, MinutesWithinOneToTwoFortyElseFifteen) {
    EXPECT_EQ(idleAwakeMsFrom("240"), 14400000u);
    EXPECT_EQ(idleAwakeMsFrom("241"), 900000u);
    EXPECT_EQ(idleAwakeMsFrom("0"), 900000u);
    EXPECT_EQ(idleAwakeMsFrom(nullptr), 900000u);
    EXPECT_EQ(idleAwakeMsFrom("1"), 60000u);
}

TEST(EnvFlags, FirstCharacterDecides) {
    EXPECT_TRUE(audioFrom(nullptr));
    EXPECT_TRUE(audioFrom(""));
    EXPECT_FALSE(audioFrom("0"));
    EXPECT_FALSE(audioFrom("0ff"));
    EXPECT_TRUE(audioFrom("1"));
    EXPECT_TRUE(adaptiveFpsFrom("no"));
    EXPECT_FALSE(adaptiveFpsFrom("00"));
    EXPECT_FALSE(nativeFrom(nullptr));
    EXPECT_FALSE(nativeFrom(""));
    EXPECT_TRUE(nativeFrom("1yes"));
    EXPECT_FALSE(nativeFrom("true"));
    EXPECT_TRUE(parentWatchFrom("1"));
    EXPECT_FALSE(parentWatchFrom("0"));
    EXPECT_FALSE(cursorFrom("0"));
    EXPECT_TRUE(cursorFrom("no"));
    EXPECT_TRUE(ctrlAsCmdFrom(""));
    EXPECT_FALSE(ctrlAsCmdFrom("0"));
}

TEST(EnvFlags, MirrorIsOffOnlyForExactlyZero) {
    EXPECT_FALSE(mirrorFrom("0"));
    EXPECT_TRUE(mirrorFrom("00"));
    EXPECT_TRUE(mirrorFrom(""));
    EXPECT_TRUE(mirrorFrom(nullptr));
}

TEST(EnvScale, UsedOnlyBetweenQuarterAndOne) {
    EXPECT_DOUBLE_EQ(scaleFrom("0.75"), 0.75);
    EXPECT_DOUBLE_EQ(scaleFrom("1.0"), 1.0);
    EXPECT_DOUBLE_EQ(scaleFrom("0.25"), 0.25);
    EXPECT_DOUBLE_EQ(scaleFrom("1.5"), 0);
    EXPECT_DOUBLE_EQ(scaleFrom("0.2"), 0);
    EXPECT_DOUBLE_EQ(scaleFrom("0.1"), 0);
    EXPECT_DOUBLE_EQ(scaleFrom(nullptr), 0);
}

TEST(EnvProbe, OnlyANonEmptyValueMakesAProbe) {
    EXPECT_FALSE(permsProbeFrom(nullptr));
    EXPECT_FALSE(permsProbeFrom(""));
    EXPECT_TRUE(permsProbeFrom("check"));
    EXPECT_TRUE(permsProbeFrom("Request"));
}
